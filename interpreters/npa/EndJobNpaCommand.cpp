#include "interpreters/npa/EndJobNpaCommand.h"

#include "export/common/PropertyAccessor.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x06, 0x50, 0x05, 0x01, 0x00, 0x00, 0x00};
constexpr uint32_t kJobIdOffset = 7;

}  // namespace

EndJobNpaCommand::EndJobNpaCommand(const std::string& text) : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
    uint32_t jobId = 0;
    PropertyAccessor().GetLong(text, PropertyAccessor::JobId, jobId);
    uint8_t* bytes = MutableBytes();
    bytes[kJobIdOffset] = static_cast<uint8_t>((jobId >> 8) & 0xFF);
    bytes[kJobIdOffset + 1] = static_cast<uint8_t>(jobId & 0xFF);
}

EndJobNpaCommand::~EndJobNpaCommand() = default;

Command* EndJobNpaCommand::Clone(const std::string& text) const {
    return new EndJobNpaCommand(text);
}
