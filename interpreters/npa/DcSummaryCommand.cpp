#include "interpreters/npa/DcSummaryCommand.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "interpreters/npa/NpaReplyReader.h"

#include <algorithm>

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x03, 0x50, 0x01, 0x00};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint32_t kBadFormat = 11;    // ERROR_BAD_FORMAT

constexpr uint32_t kRevisionOffset = 6;
constexpr uint32_t kRevisionLength = 3;
constexpr uint32_t kPacketSizeOffset = 29;
constexpr uint32_t kFieldsOffset = 39;
constexpr int kSerialField = 2;  // the third length-prefixed field

// A serial number is shown to people and stored in a property text, which has no escaping:
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

    // The serial number sits in the third of a run of length-prefixed fields. Every field up to
    // and including it must lie inside the reply; a reply cut inside them is a broken summary,
    // and nothing of it is reported.
    uint32_t offset = kFieldsOffset;
    uint8_t fieldLength = 0;
    for (int field = 0; field < kSerialField; ++field) {
        if (!reader.Byte(offset, fieldLength) || !reader.Holds(offset + 1, fieldLength)) {
            return kBadFormat;
        }
        offset += 1u + fieldLength;
    }
    std::string serial;
    if (!reader.Byte(offset, fieldLength) || !reader.Text(offset + 1, fieldLength, serial)) {
        return kBadFormat;
    }
    serial = serial.substr(0, serial.find('\0'));

    const PropertyAccessor accessor;
    resultText_.clear();
    accessor.SetLong(resultText_, PropertyAccessor::MaxWritePacketSize, packetSize);
    accessor.SetByteArray(resultText_, PropertyAccessor::NpaRevisionLevel, reader.At(kRevisionOffset),
                          kRevisionLength);
    // SerialNumber is read-only for clients (a request cannot set it), but this decoder is where
    // the value comes from, and a status tool asks for the summary mostly to learn it; so it is
    // written into the result text directly rather than through the refusing setter. Clients read
    // it with the read-only descriptor, which getters accept.
    if (IsPlainText(serial)) {
        std::string serialName;
        FindElement(PropertyAccessor::SerialNumber, PropertyAccessor::NameElement, serialName);
        SetElement(resultText_, serialName, serial);
    }
    return 0;
}
