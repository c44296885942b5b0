#include "interpreters/npa/NpaPrototypeSet.h"

#include "interpreters/npa/AioLockNpaCommand.h"
#include "interpreters/npa/DcSummaryCommand.h"
#include "interpreters/npa/EndJobNpaCommand.h"
#include "interpreters/npa/GetPrinterLanguageNpaCommand.h"
#include "interpreters/npa/Ip1AdapterVariableNpaCommand.h"
#include "interpreters/npa/NamePrintJobNpaCommand.h"
#include "interpreters/npa/PrinterAlertCommand.h"
#include "interpreters/npa/QueryAllNpaCommand.h"
#include "interpreters/npa/RawNpaCommand.h"
#include "interpreters/npa/SetJobIdNpaCommand.h"
#include "interpreters/npa/SetLastDateNpaCommand.h"
#include "interpreters/npa/StartNpaModeCommand.h"
#include "interpreters/npa/StartPrintJobNpaCommand.h"

NpaPrototypeSet::NpaPrototypeSet(CommandManager& manager) {
    prototypes_.reserve(20);
    prototypes_.emplace_back(new DcSummaryCommand());
    prototypes_.emplace_back(new StartPrintJobNpaCommand());
    prototypes_.emplace_back(new RawNpaCommand());
    prototypes_.emplace_back(new StartNpaModeCommand());
    prototypes_.emplace_back(new SetLastDateNpaCommand());
    prototypes_.emplace_back(new QueryAllNpaCommand());
    prototypes_.emplace_back(new RegisterForPanelAlertsNpaCommand());
    prototypes_.emplace_back(new RegisterForDeviceStatusAlertsNpaCommand());
    prototypes_.emplace_back(new RegisterForQuorvelExtendedAlertsNpaCommand());
    prototypes_.emplace_back(new RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand());
    prototypes_.emplace_back(new RegisterForQuorvelExtensionAlertsNpaCommand());
    prototypes_.emplace_back(new NamePrintJobNpaCommand());
    prototypes_.emplace_back(new AioLockNpaCommand());
    prototypes_.emplace_back(new AioSwathLockNpaCommand());
    prototypes_.emplace_back(new AioLegacyLockNpaCommand());
    prototypes_.emplace_back(new AioUnlockNpaCommand());
    prototypes_.emplace_back(new GetPrinterLanguageNpaCommand());
    prototypes_.emplace_back(new EndJobNpaCommand());
    prototypes_.emplace_back(new Ip1AdapterVariableNpaCommand());
    prototypes_.emplace_back(new SetJobIdNpaCommand());
    // Registered only once all exist: a failure half-way would otherwise leave the manager
    // pointing at prototypes that the unwinding has just deleted. Clones are never registered,
    // so the manager's map only ever holds objects this set owns.
    for (const auto& prototype : prototypes_) {
        manager.Register(prototype.get());
    }
}

NpaPrototypeSet::~NpaPrototypeSet() = default;

std::vector<std::string> NpaPrototypeSet::Names() const {
    std::vector<std::string> names;
    for (const auto& prototype : prototypes_) {
        names.push_back(prototype->Name());
    }
    return names;
}
