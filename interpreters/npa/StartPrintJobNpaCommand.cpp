#include "interpreters/npa/StartPrintJobNpaCommand.h"

#include "export/common/PropertyAccessor.h"
#include "interpreters/npa/NpaReplyReader.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x06, 0x50, 0x05, 0x00, 0x00, 0x00, 0x00};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint32_t kBadFormat = 11;    // ERROR_BAD_FORMAT
constexpr uint32_t kJobIdOffset = 7;

}  // namespace

StartPrintJobNpaCommand::StartPrintJobNpaCommand() : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
}

StartPrintJobNpaCommand::~StartPrintJobNpaCommand() = default;

Command* StartPrintJobNpaCommand::Clone(const std::string&) const {
    return new StartPrintJobNpaCommand();
}

uint32_t StartPrintJobNpaCommand::DecodeReply(const Data& reply) {
    if (!IsReplyTo(reply)) {
        return kNotAReply;
    }
    uint16_t jobId = 0;
    if (!NpaReplyReader(reply).Word(kJobIdOffset, jobId)) {
        return kBadFormat;
    }
    resultText_.clear();
    PropertyAccessor().SetLong(resultText_, PropertyAccessor::JobId, jobId);
    return 0;
}
