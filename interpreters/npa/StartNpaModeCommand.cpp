#include "interpreters/npa/StartNpaModeCommand.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                                 0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};

}  // namespace

StartNpaModeCommand::StartNpaModeCommand() : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
}

StartNpaModeCommand::~StartNpaModeCommand() = default;

Command* StartNpaModeCommand::Clone(const std::string&) const {
    return new StartNpaModeCommand();
}
