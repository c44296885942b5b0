#include "interpreters/npa/NpaCommand.h"

#include <algorithm>

namespace {

constexpr uint32_t kMoreData = 234;          // ERROR_MORE_DATA
constexpr uint32_t kNotThisProtocol = 1629;  // ERROR_DATATYPE_MISMATCH

constexpr uint8_t kControlCommands[] = {0xF0, 0xFF};
constexpr uint8_t kAcknowledge[] = {0xA5, 0x00, 0x05, 0x00, 0xFF, 0x80, 0x00, 0x00};
constexpr uint32_t kAcknowledgeFlagsOffset = 3;

// Byte i of the buffer; false when the buffer does not reach it.
bool ByteAt(const Data& data, uint32_t i, uint8_t& value) {
    if (i >= data.Size()) {
        return false;
    }
    value = data.Bytes()[i];
    return true;
}

// A byte beyond the end never matches.
bool ByteIs(const Data& data, uint32_t i, uint8_t expected) {
    uint8_t value = 0;
    return ByteAt(data, i, value) && value == expected;
}

bool SameByte(const Data& a, const Data& b, uint32_t i) {
    uint8_t value = 0;
    return ByteAt(a, i, value) && ByteIs(b, i, value);
}

bool StartsPacket(const Data& data) {
    return data.Size() >= 4 && data.Bytes()[0] == NpaCommand::StartByte;
}

uint16_t ReadLength(const uint8_t* header) {
    return static_cast<uint16_t>((header[1] << 8) | header[2]);
}

uint8_t CommandByte(const Data& data) {
    uint8_t code = 0;
    ByteAt(data, 4, code);
    return code;
}

}  // namespace

NpaCommand::NpaCommand() : commandCode_(0) {}

NpaCommand::NpaCommand(const std::string& text) : Command(text), commandCode_(0) {}

NpaCommand::NpaCommand(const Data& packet) : Command(packet), commandCode_(CommandByte(*this)) {}

NpaCommand::NpaCommand(const uint8_t* p, uint32_t n) : Command(p, n), commandCode_(CommandByte(*this)) {}

NpaCommand::~NpaCommand() = default;

Command* NpaCommand::Clone(const std::string& text) const {
    return new NpaCommand(text);
}

bool NpaCommand::IsReplyTo(const Data& reply) const {
    uint8_t cmd = 0;
    if (!IsProtocolPacket() || reply.Size() < 5 || !ByteIs(reply, 0, StartByte) || !ByteAt(*this, 4, cmd) ||
        !ByteIs(reply, 4, cmd)) {
        return false;
    }
    uint8_t sub = 0;
    if (reply.Size() >= 6) {
        if (!ByteAt(*this, 5, sub) || !ByteIs(reply, 5, sub)) {
            return false;
        }
        // Replies to these two carry nothing further that ties them to one request.
        if (cmd == 0xE0 && sub == 0x71) {
            return true;
        }
        if (cmd == 0x03 && sub == 0x04) {
            return Length() == ReadLength(reply.Bytes());
        }
    }
    // For E0 requests byte 6 names the object asked about, except for sub-commands 61 and 87,
    // whose replies do not echo it.
    if (reply.Size() > 6 && cmd == 0xE0 && !SameByte(*this, reply, 6) && sub != 0x61 && sub != 0x87) {
        return false;
    }
    if (reply.Size() >= 8 && cmd == 0xE0 && sub == 0x81) {
        return SameByte(*this, reply, 7) || ByteIs(reply, 7, 0xF0);
    }
    return true;
}

bool NpaCommand::ExpectsReply() const {
    return (Flags() & ReplyRequestedFlag) != 0;
}

bool NpaCommand::IsProtocolPacket() const {
    return StartsPacket(*this);
}

bool NpaCommand::MaySendRaw() const {
    if (!IsComplete()) {
        return false;
    }
    // The mode query E0 73 01 and job start and end belong to the service's own sequence.
    if (Size() == 9 && ByteIs(*this, 4, 0xE0) && ByteIs(*this, 5, 0x73) && ByteIs(*this, 6, 0x01)) {
        return false;
    }
    uint8_t sub = 0;
    if (ByteIs(*this, 4, 0x05) && ByteAt(*this, 5, sub) && sub <= 0x01) {
        return false;
    }
    return true;
}

bool NpaCommand::IsFlag7Set(const Data& packet) const {
    return StartsPacket(packet) && (packet.Bytes()[3] & Flag7) != 0;
}

bool NpaCommand::IsControlPacket() const {
    uint8_t code = 0;
    return ByteAt(*this, 4, code) &&
           std::find(std::begin(kControlCommands), std::end(kControlCommands), code) != std::end(kControlCommands);
}

bool NpaCommand::IsAcknowledge(const Data& packet) const {
    if (packet.Size() != sizeof kAcknowledge) {
        return false;
    }
    for (uint32_t i = 0; i < sizeof kAcknowledge; ++i) {
        if (i != kAcknowledgeFlagsOffset && packet.Bytes()[i] != kAcknowledge[i]) {
            return false;
        }
    }
    return true;
}

void NpaCommand::SetReplyRequested(bool on) {
    if (Size() >= 4) {
        SetFlags(static_cast<uint8_t>(on ? (Flags() | ReplyRequestedFlag) : (Flags() & ~ReplyRequestedFlag)));
    }
}

uint16_t NpaCommand::Length() const {
    return Size() >= 3 ? ReadLength(Bytes()) : 0;
}

void NpaCommand::SetLength(uint16_t length) {
    if (Size() >= 3) {
        MutableBytes()[1] = static_cast<uint8_t>(length >> 8);
        MutableBytes()[2] = static_cast<uint8_t>(length & 0xFF);
    }
}

uint8_t NpaCommand::Flags() const {
    uint8_t flags = 0;
    ByteAt(*this, 3, flags);
    return flags;
}

void NpaCommand::SetFlags(uint8_t flags) {
    if (Size() >= 4) {
        MutableBytes()[3] = flags;
    }
}

bool NpaCommand::IsWellFormed() const {
    return IsProtocolPacket() && Size() > 2 && Size() == static_cast<uint32_t>(Length()) + 3;
}

bool NpaCommand::IsContinued() const {
    return IsProtocolPacket() && (Flags() & ContinuedFlag) != 0;
}

bool NpaCommand::IsComplete() const {
    return IsProtocolPacket() && IsWellFormed() && !IsContinued();
}

const uint8_t* NpaCommand::Payload() const {
    return PayloadLength() > 0 ? Bytes() + 5 : nullptr;
}

uint32_t NpaCommand::PayloadLength() const {
    // A length field that claims more than the buffer holds must not send a reader past its end.
    if (Size() <= 5 || Length() < 2) {
        return 0;
    }
    return std::min<uint32_t>(Length() - 2u, Size() - 5u);
}

bool NpaCommand::Merge(const NpaCommand& next) {
    if (next.CommandCode() != CommandCode()) {
        return false;
    }
    const uint32_t added = next.PayloadLength();
    // A joined length that wraps in 16 bits would make the header describe fewer bytes than the
    // packet holds.
    if (static_cast<uint32_t>(Length()) + added > MaxLength) {
        return false;
    }
    const uint8_t flags = next.Flags();
    Append(next.Payload(), added);
    SetLength(static_cast<uint16_t>(Length() + added));
    SetFlags(flags);
    return true;
}

uint32_t ReassembleNpaPacket(const Data& in, Data& out, int32_t& consumed) {
    consumed = 0;
    if (!StartsPacket(in)) {
        return kNotThisProtocol;
    }
    const uint8_t* bytes = in.Bytes();
    const uint32_t size = in.Size();
    const uint32_t firstSize = ReadLength(bytes) + 3u;
    if (size < firstSize) {
        return kMoreData;
    }

    NpaCommand first(bytes, firstSize);
    uint32_t used = firstSize;
    while (first.IsContinued()) {
        if (used == size) {
            return kMoreData;
        }
        const uint8_t* at = bytes + used;
        const uint32_t remaining = size - used;
        if (at[0] != NpaCommand::StartByte) {
            break;
        }
        if (remaining < 3) {
            return kMoreData;
        }
        const uint32_t nextSize = ReadLength(at) + 3u;
        if (nextSize < 4) {
            break;  // A5 00 00 has no flags byte: not a packet that can continue a message.
        }
        if (remaining < nextSize) {
            return kMoreData;
        }
        if (static_cast<uint64_t>(used) + nextSize > static_cast<uint64_t>(INT32_MAX)) {
            break;
        }
        const NpaCommand next(at, nextSize);
        if (next.CommandCode() == first.CommandCode() && !first.Merge(next)) {
            break;  // Joining would overflow the length field; this fragment starts the next call.
        }
        used += nextSize;
    }
    out.Append(first);
    consumed = static_cast<int32_t>(used);
    return 0;
}
