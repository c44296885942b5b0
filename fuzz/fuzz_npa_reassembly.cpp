// NPA reassembly from arbitrary printer bytes: ReassembleNpaPacket, then the packet manager's
// Unwrap cutting the whole input message by message as the port does, and the NpaCommand
// predicates over every packet it yields.
// Checked: the input is never changed; a failure (234, 1629) consumes nothing and appends
// nothing; a success consumes at least one byte and never more than the input holds, and appends
// one packet whose length field matches its size and that is no longer than what it consumed; a
// packet that is not continued is taken as it stands; a decided result does not change when more
// bytes follow; Unwrap gives what ReassembleNpaPacket gives; Reset empties its buffer.
#include "fuzz/FuzzCheck.h"
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/NpaPacketManager.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNotThisProtocol = 1629;
constexpr uint8_t kMarker = 0xEE;

Bytes Remaining(const Data& d) { return d.Size() == 0 ? Bytes() : Bytes(d.Bytes(), d.Bytes() + d.Size()); }

struct Outcome {
    uint32_t rc;
    int32_t consumed;
    Bytes packet;
};

// One call on bytes, with an output that already holds a byte: that byte must stay in front.
Outcome Reassemble(const Bytes& bytes) {
    const Data in(bytes.data(), static_cast<uint32_t>(bytes.size()));
    Data out(&kMarker, 1);
    int32_t consumed = -1;
    const uint32_t rc = ReassembleNpaPacket(in, out, consumed);
    FUZZ_CHECK(Remaining(in) == bytes);
    FUZZ_CHECK(out.Size() >= 1 && out.Bytes()[0] == kMarker);
    const Bytes appended(out.Bytes() + 1, out.Bytes() + out.Size());
    return Outcome{rc, consumed, appended};
}

// Whatever the command predicates read must lie inside the packet (ASan watches); the few
// answers that follow from the bytes alone are checked.
void Predicates(const Bytes& packet, const Bytes& other) {
    const NpaCommand command(packet.data(), static_cast<uint32_t>(packet.size()));
    const Data otherData(other.data(), static_cast<uint32_t>(other.size()));
    command.IsReplyTo(otherData);
    command.IsFlag7Set(otherData);
    command.IsAcknowledge(otherData);
    command.IsControlPacket();
    command.ExpectsReply();
    command.MaySendRaw();
    FUZZ_CHECK(command.IsProtocolPacket() == (packet.size() >= 4 && packet[0] == 0xA5));
    FUZZ_CHECK(command.PayloadLength() <= (packet.size() > 5 ? packet.size() - 5 : 0));
    if (command.PayloadLength() > 0) {
        FUZZ_CHECK(command.Payload() == command.Bytes() + 5);
    }
    if (command.IsComplete()) {
        FUZZ_CHECK(command.IsWellFormed() && !command.IsContinued());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes input(data, data + size);
    const Outcome first = Reassemble(input);
    FUZZ_CHECK(first.rc == 0 || first.rc == kMoreData || first.rc == kNotThisProtocol);
    if (first.rc != 0) {
        FUZZ_CHECK(first.consumed == 0 && first.packet.empty());
        FUZZ_CHECK(first.rc == kNotThisProtocol || (size >= 4 && data[0] == 0xA5));
    } else {
        FUZZ_CHECK(first.consumed > 0 && static_cast<size_t>(first.consumed) <= size);
        const Bytes& p = first.packet;
        FUZZ_CHECK(p.size() >= 3 && p[0] == 0xA5);
        FUZZ_CHECK(((static_cast<size_t>(p[1]) << 8) | p[2]) + 3 == p.size());
        FUZZ_CHECK(p.size() <= static_cast<size_t>(first.consumed));
        const size_t firstSize = ((static_cast<size_t>(data[1]) << 8) | data[2]) + 3;
        if ((data[3] & NpaCommand::ContinuedFlag) == 0) {
            FUZZ_CHECK(static_cast<size_t>(first.consumed) == firstSize);
            FUZZ_CHECK(std::memcmp(p.data(), data, firstSize) == 0);
        } else {
            // A chain keeps the first packet's command code, and only grows.
            FUZZ_CHECK(p.size() >= firstSize && (firstSize < 5 || p[4] == data[4]));
        }
        // Bytes after what was consumed cannot change a decided packet.
        Bytes longer = input;
        const uint8_t more[] = {0xA5, 0x00, 0x05, 0x10, 0xE0, 0x81, 0x00, 0xFF};
        longer.insert(longer.end(), more, more + sizeof more);
        const Outcome again = Reassemble(longer);
        FUZZ_CHECK(again.rc == 0 && again.consumed == first.consumed && again.packet == first.packet);
    }

    // The manager cuts the whole input message by message, as the port's storage buffer would.
    NpaPacketManager manager;
    Data storage(data, static_cast<uint32_t>(size));
    size_t total = 0;
    Bytes previous;
    for (int round = 0; storage.Size() != 0; ++round) {
        const Bytes before = Remaining(storage);
        const Outcome expected = Reassemble(before);
        Data out;
        int32_t consumed = -1;
        const uint32_t rc = manager.Unwrap(storage, out, consumed);
        FUZZ_CHECK(Remaining(storage) == before);
        FUZZ_CHECK(rc == expected.rc && consumed == expected.consumed && Remaining(out) == expected.packet);
        if (rc != 0) break;
        FUZZ_CHECK(consumed > 0 && static_cast<uint32_t>(consumed) <= storage.Size());
        Predicates(Remaining(out), previous);
        previous = Remaining(out);
        storage.Consume(static_cast<uint32_t>(consumed), true);
        total += static_cast<size_t>(consumed);
        FUZZ_CHECK(manager.Reset(out) == 0 && out.Size() == 0 && out.Status() == 0 && out.Count() == 0);
    }
    FUZZ_CHECK(total + storage.Size() == size);
    Predicates(input, previous);
    return 0;
}
