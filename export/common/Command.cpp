#include "export/common/Command.h"

#include "export/common/PropertyAccessor.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kNothingDecoded = 1;

std::vector<uint8_t> DataProperty(const std::string& text) {
    std::vector<uint8_t> bytes;
    PropertyAccessor().GetByteArray(text, PropertyAccessor::DataByteArray, bytes);
    return bytes;
}

}  // namespace

Command::Command() = default;

Command::Command(const std::string& text) {
    const std::vector<uint8_t> bytes = DataProperty(text);
    Append(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Command::Command(const Data& packet) : Data(packet) {}

Command::Command(const uint8_t* p, uint32_t n) : Data(p, n) {}

Command::~Command() = default;

bool Command::Equals(const Data& other) const {
    const uint32_t size = Size();
    if (other.Size() != size) {
        return false;
    }
    return size == 0 || std::memcmp(Bytes(), other.Bytes(), size) == 0;
}

bool Command::Differs(const Data& other) const {
    return !Equals(other);
}

Command* Command::Clone(const std::string& text) const {
    return new Command(text);
}

bool Command::IsReplyTo(const Data&) const {
    return false;
}

uint32_t Command::DecodeReply(const Data&) {
    return kNothingDecoded;
}

uint32_t Command::Reserved() {
    return 1;
}

bool Command::ExpectsReply() const {
    return false;
}

bool Command::IsProtocolPacket() const {
    return false;
}

bool Command::MaySendRaw() const {
    return false;
}

bool Command::IsFlag7Set(const Data&) const {
    return false;
}

bool Command::IsControlPacket() const {
    return false;
}

bool Command::IsAcknowledge(const Data&) const {
    return false;
}

void Command::SetReplyRequested(bool) {}

NullCommand::~NullCommand() = default;

Command* NullCommand::Clone(const std::string&) const {
    return new NullCommand();
}
