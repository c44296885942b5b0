#pragma once
// The twenty NPA command prototypes, created in a fixed order and registered with a command
// manager under their names. The set owns the prototypes and the manager only points at them:
// once the set is gone, the manager must be destroyed before anyone creates commands with it.
#include "export/common/Command.h"
#include "export/common/CommandManager.h"

#include <memory>
#include <string>
#include <vector>

class NpaPrototypeSet {
public:
    // Creates every prototype, then registers them with manager in creation order.
    explicit NpaPrototypeSet(CommandManager& manager);
    ~NpaPrototypeSet();
    NpaPrototypeSet(const NpaPrototypeSet&) = delete;
    NpaPrototypeSet& operator=(const NpaPrototypeSet&) = delete;

    // The command names in creation order.
    std::vector<std::string> Names() const;

private:
    std::vector<std::unique_ptr<Command>> prototypes_;
};
