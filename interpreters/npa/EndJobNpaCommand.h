#pragma once
// "endJob": closes the print job named by JobId (its low 16 bits go into bytes 7-8; 0 when the
// text has none). Decodes nothing.
#include "interpreters/npa/NpaCommand.h"

class EndJobNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "endJob";

    explicit EndJobNpaCommand(const std::string& text = std::string());
    ~EndJobNpaCommand() override;
    Command* Clone(const std::string& text) const override;
};
