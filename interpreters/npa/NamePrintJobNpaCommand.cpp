#include "interpreters/npa/NamePrintJobNpaCommand.h"

#include "export/common/PropertyAccessor.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0x02, 0x00, 0x00, 0x00};
constexpr uint32_t kJobIdOffset = 6;
constexpr uint32_t kCountOffset = 8;
// The length field counts flags, command, sub-command, job id, count byte and terminator.
constexpr uint32_t kLengthOverhead = 7;

std::string StringProperty(const std::string& text, const char* descriptor) {
    std::string value;
    PropertyAccessor().GetString(text, descriptor, value);
    return value;
}

}  // namespace

NamePrintJobNpaCommand::NamePrintJobNpaCommand(const std::string& text) : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
    if (text.empty()) {
        return;
    }
    uint32_t jobId = 0;
    PropertyAccessor().GetLong(text, PropertyAccessor::JobId, jobId);
    const std::string job = "HT:" + StringProperty(text, PropertyAccessor::KeyHostName) +
                            ";UR:" + StringProperty(text, PropertyAccessor::UserName) + ";" + "SC:TCP 9400;" +
                            "JN:" + StringProperty(text, PropertyAccessor::JobName) +
                            ";QU:" + StringProperty(text, PropertyAccessor::QueueName) +
                            ";AN:" + StringProperty(text, PropertyAccessor::AccountNumber) + ";";
    if (job.size() + kLengthOverhead > MaxLength) {
        Clear();
        return;
    }
    uint8_t* bytes = MutableBytes();
    bytes[kJobIdOffset] = static_cast<uint8_t>((jobId >> 8) & 0xFF);
    bytes[kJobIdOffset + 1] = static_cast<uint8_t>(jobId & 0xFF);
    // The count byte is one byte wide: from 255 characters on it holds the count modulo 256, while
    // the length field and the terminator still describe the whole string.
    bytes[kCountOffset] = static_cast<uint8_t>((job.size() + 1) & 0xFF);
    Append(reinterpret_cast<const uint8_t*>(job.data()), static_cast<uint32_t>(job.size()));
    const uint8_t terminator = 0;
    Append(&terminator, 1);
    SetLength(static_cast<uint16_t>(job.size() + kLengthOverhead));
}

NamePrintJobNpaCommand::~NamePrintJobNpaCommand() = default;

Command* NamePrintJobNpaCommand::Clone(const std::string& text) const {
    return new NamePrintJobNpaCommand(text);
}

uint32_t NamePrintJobNpaCommand::DecodeReply(const Data&) {
    return 0;
}
