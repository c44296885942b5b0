#include "interpreters/npa/QueryAllNpaCommand.h"

#include "export/common/PropertyAccessor.h"
#include "interpreters/npa/NpaReplyReader.h"

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x81, 0x00, 0xFF};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint32_t kMinimumReply = 10;

// The alternative answer is recognised by its start byte and by E0 81 00 F0 at offsets 4 to 7:
// the answer form is told by byte 7, F0 where an ordinary answer echoes the request's FF. The
// length bytes (00 05 in the request's header) are not compared: an answer holds at least 10
// bytes, so a well-formed one never carries length 5, and comparing it would make the form
// unrecognisable. The flags byte differs between printers and is not compared either.
struct Expected {
    uint32_t offset;
    uint8_t value;
};
constexpr Expected kAlternativeForm[] = {{0, 0xA5}, {4, 0xE0}, {5, 0x81}, {6, 0x00}, {7, 0xF0}};

}  // namespace

QueryAllNpaCommand::QueryAllNpaCommand() : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
}

QueryAllNpaCommand::~QueryAllNpaCommand() = default;

Command* QueryAllNpaCommand::Clone(const std::string&) const {
    return new QueryAllNpaCommand();
}

bool QueryAllNpaCommand::IsAlternativeAnswer(const Data& reply) {
    const NpaReplyReader reader(reply);
    for (const Expected& e : kAlternativeForm) {
        uint8_t value = 0;
        if (!reader.Byte(e.offset, value) || value != e.value) {
            return false;
        }
    }
    return true;
}

uint32_t QueryAllNpaCommand::DecodeReply(const Data& reply) {
    const bool answers = IsReplyTo(reply);
    const bool alternative = IsAlternativeAnswer(reply);
    if (reply.Size() < kMinimumReply || (!answers && !alternative)) {
        return kNotAReply;
    }
    const PropertyAccessor accessor;
    resultText_.clear();
    accessor.SetLong(resultText_, PropertyAccessor::HbnResponse, alternative ? 1u : 0u);
    accessor.SetLong(resultText_, PropertyAccessor::NpaResponse, answers ? 1u : 0u);
    return 0;
}
