#include "interpreters/npa/SetLastDateNpaCommand.h"

#include "export/common/PropertyAccessor.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x0D, 0x50, 0xE0, 0x84, 0x00, 0x01,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr uint32_t kDateOffset = 8;
constexpr uint32_t kHostIdOffset = 10;
constexpr uint32_t kNotFound = 1168;  // ERROR_NOT_FOUND

}  // namespace

SetLastDateNpaCommand::SetLastDateNpaCommand(const std::string& text) : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
    const PropertyAccessor accessor;
    // Nothing in the system knows the printer's host id, so its absence is the normal case: the
    // six bytes stay zero, which tells the printer no host is named. A value that is there but not
    // six bytes long is a client mistake; guessing how to pad or cut an identifier would name the
    // wrong host, so the request is refused instead.
    std::vector<uint8_t> hostId;
    const uint32_t found = accessor.GetByteArray(text, PropertyAccessor::CpdPrinterHostId, hostId);
    if (found != kNotFound && (found != 0 || hostId.size() != kHostIdLength)) {
        Clear();
        return;
    }
    uint32_t date = 0;
    accessor.GetLong(text, PropertyAccessor::LastDate, date);
    uint8_t* bytes = MutableBytes();
    bytes[kDateOffset] = static_cast<uint8_t>((date >> 8) & 0xFF);
    bytes[kDateOffset + 1] = static_cast<uint8_t>(date & 0xFF);
    std::copy(hostId.begin(), hostId.end(), bytes + kHostIdOffset);
}

SetLastDateNpaCommand::~SetLastDateNpaCommand() = default;

Command* SetLastDateNpaCommand::Clone(const std::string& text) const {
    return new SetLastDateNpaCommand(text);
}
