#include "interpreters/npa/SetJobIdNpaCommand.h"

#include "export/common/PropertyAccessor.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x0E, 0x50, 0xE0, 0x81, 0x00, 0x01, 0x00, 0x01, 0x05, 0x14, 0x04};

}  // namespace

SetJobIdNpaCommand::SetJobIdNpaCommand(const std::string& text) : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
    if (text.empty()) {
        return;
    }
    // The header announces exactly four id bytes (its length field and the triplet's own length
    // byte 04). Sending fewer would make the printer take the next packet's first bytes as the
    // rest of this one, so a short id is widened as a number and a missing or too long one
    // refuses the request.
    std::vector<uint8_t> id;
    if (PropertyAccessor().GetByteArray(text, PropertyAccessor::TripletJobId, id) != 0 || id.empty() ||
        id.size() > kJobIdLength) {
        Clear();
        return;
    }
    uint8_t field[kJobIdLength] = {};
    std::copy(id.begin(), id.end(), field + (kJobIdLength - id.size()));
    Append(field, kJobIdLength);
}

SetJobIdNpaCommand::~SetJobIdNpaCommand() = default;

Command* SetJobIdNpaCommand::Clone(const std::string& text) const {
    return new SetJobIdNpaCommand(text);
}
