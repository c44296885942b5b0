#include "interpreters/npa/GetPrinterLanguageNpaCommand.h"

#include "export/common/PropertyAccessor.h"
#include "interpreters/npa/NpaReplyReader.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x0B, 0x50, 0xE0, 0xB2, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x0F};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint32_t kBadFormat = 11;    // ERROR_BAD_FORMAT
constexpr uint32_t kLanguageOffset = 23;

}  // namespace

GetPrinterLanguageNpaCommand::GetPrinterLanguageNpaCommand() : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
}

GetPrinterLanguageNpaCommand::~GetPrinterLanguageNpaCommand() = default;

Command* GetPrinterLanguageNpaCommand::Clone(const std::string&) const {
    return new GetPrinterLanguageNpaCommand();
}

uint32_t GetPrinterLanguageNpaCommand::DecodeReply(const Data& reply) {
    if (!IsReplyTo(reply)) {
        return kNotAReply;
    }
    uint8_t language = 0;
    if (!NpaReplyReader(reply).Byte(kLanguageOffset, language)) {
        return kBadFormat;
    }
    resultText_.clear();
    PropertyAccessor().SetLong(resultText_, PropertyAccessor::PrinterLanguage, language);
    return 0;
}
