#include "interpreters/npa/DcSummaryCommand.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "interpreters/npa/NpaReplyReader.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x03, 0x50, 0x01, 0x00};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint32_t kBadFormat = 11;    // ERROR_BAD_FORMAT

constexpr uint32_t kRevisionOffset = 6;
constexpr uint32_t kRevisionLength = 3;
constexpr uint32_t kPacketSizeOffset = 29;
constexpr uint32_t kFieldsOffset = 39;
// The length-prefixed fields in their order, each with the property it is decoded into.
const char* const kFieldDescriptors[] = {PropertyAccessor::Manufacturer, PropertyAccessor::Model,
                                         PropertyAccessor::SerialNumber};

// These texts are shown to people and stored in a property text, which has no escaping:
// anything but plain printable characters (markup characters included) would either be
// unreadable or break the text's element structure.
bool IsPlainText(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= 0x20 && c <= 0x7E && c != '<' && c != '>'; });
}

}  // namespace

DcSummaryCommand::DcSummaryCommand() : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
}

DcSummaryCommand::~DcSummaryCommand() = default;

Command* DcSummaryCommand::Clone(const std::string&) const {
    return new DcSummaryCommand();
}

uint32_t DcSummaryCommand::DecodeReply(const Data& reply) {
    if (!IsReplyTo(reply)) {
        return kNotAReply;
    }
    const NpaReplyReader reader(reply);
    uint16_t packetSize = 0;
    if (!reader.Word(kPacketSizeOffset, packetSize) || !reader.Holds(kRevisionOffset, kRevisionLength)) {
        return kBadFormat;
    }

    // Manufacturer, model and serial number are a run of length-prefixed fields. Every field
    // must lie inside the reply; a reply cut inside them is a broken summary, and nothing of it
    // is reported.
    std::string fields[std::size(kFieldDescriptors)];
    uint32_t offset = kFieldsOffset;
    for (std::string& field : fields) {
        uint8_t fieldLength = 0;
        if (!reader.Byte(offset, fieldLength) || !reader.Text(offset + 1, fieldLength, field)) {
            return kBadFormat;
        }
        field = field.substr(0, field.find('\0'));
        offset += 1u + fieldLength;
    }

    const PropertyAccessor accessor;
    resultText_.clear();
    accessor.SetLong(resultText_, PropertyAccessor::MaxWritePacketSize, packetSize);
    accessor.SetByteArray(resultText_, PropertyAccessor::NpaRevisionLevel, reader.At(kRevisionOffset),
                          kRevisionLength);
    // The three are read-only for clients (a request cannot set them), but this decoder is where
    // the values come from, and a status tool asks for the summary mostly to learn them; so they
    // are written into the result text directly rather than through the refusing setter. Clients
    // read them with the read-only descriptors, which getters accept.
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (!IsPlainText(fields[i])) continue;
        std::string name;
        FindElement(kFieldDescriptors[i], PropertyAccessor::NameElement, name);
        SetElement(resultText_, name, fields[i]);
    }
    return 0;
}
