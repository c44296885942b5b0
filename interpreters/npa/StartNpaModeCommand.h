#pragma once
// "startNpaMode": the fixed packet that switches the printer into NPA mode. It asks for no reply
// and decodes nothing.
#include "interpreters/npa/NpaCommand.h"

class StartNpaModeCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "startNpaMode";

    StartNpaModeCommand();
    ~StartNpaModeCommand() override;
    // The fixed packet; text is not read.
    Command* Clone(const std::string& text) const override;
};
