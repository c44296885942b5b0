// The port's framing step and the NPA packet protocol over a byte stream cut into reads at
// boundaries the input chooses. The input also chooses the channel byte and the request that is
// in flight: the stream is read while the request is being written, as from a fast printer.
// Two forms of stream:
//   raw          any bytes;
//   well-formed  a run of complete, unfragmented NPA packets built from the input.
// Checked, raw: what is delivered, kept aside and left in storage never exceeds what was read;
// a captured reply answers the request (IsReplyTo), is a packet the session saw, and came with
// status 0; a request that expects a reply and got none ends with 1460.
// Checked, well-formed, whatever the read boundaries: every packet is delivered exactly once, in
// order and unchanged, except the short packets, which are kept aside; nothing stays in storage;
// the session sees exactly the delivered packets.
#include "core/usb/port/FramingStep.h"
#include "core/usb/port/NpaPacketProtocol.h"
#include "core/usb/port/Port.h"
#include "export/common/PropertyAccessor.h"
#include "fuzz/FuzzCheck.h"
#include "interpreters/npa/NpaCommand.h"
#include "tests/core/usb/port/NpaTestLookup.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Remaining(const Data& d) { return d.Size() == 0 ? Bytes() : Bytes(d.Bytes(), d.Bytes() + d.Size()); }

struct RecordingSession : PacketSink {
    void onPacket(const Data& packet) override { packets.push_back(Remaining(packet)); }
    std::vector<Bytes> packets;
};

// The port: a write succeeds whole, and the first write lets the printer's bytes arrive, cut by
// the framing step into the observers, before it returns.
class StreamPort : public Port, private FramingSink {
public:
    StreamPort(NpaTestLookup& lookup, uint8_t channelByte, const std::vector<Bytes>& reads)
        : Port("<PORTNAME>USB001</PORTNAME>"), lookup_(lookup), channelByte_(channelByte), reads_(reads) {}

    uint32_t exchangeBidi(Data& request) override {
        request.SetStatus(0);
        request.SetCount(static_cast<int32_t>(request.Size()));
        readAll();
        return 0;
    }

    void readAll() {
        if (done_) return;
        done_ = true;
        for (const Bytes& read : reads_) {
            FramingStep::run(storage, Data(read.data(), static_cast<uint32_t>(read.size())), channelByte_, lookup_, *this);
        }
    }

    Data storage;
    std::vector<Bytes> delivered;
    std::vector<Bytes> kept;

private:
    void deliverPacket(Data& packet) override {
        delivered.push_back(Remaining(packet));
        notifyData(&packet);
    }
    void keepShortPacket(const Data& packet) override { kept.push_back(Remaining(packet)); }

    NpaTestLookup& lookup_;
    uint8_t channelByte_;
    std::vector<Bytes> reads_;
    bool done_ = false;
};

NpaTestLookup& Lookup() {
    // Reachable for the whole run: the interpreter's prototypes are made once, not per input.
    static NpaTestLookup* lookup = new NpaTestLookup();
    return *lookup;
}

size_t Total(const std::vector<Bytes>& list) {
    size_t n = 0;
    for (const Bytes& b : list) n += b.size();
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool wellFormed = in.ConsumeBool();
    const uint8_t channelByte = in.ConsumeIntegral<uint8_t>();
    const Bytes request = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));

    Bytes stream;
    std::vector<Bytes> packets;
    if (wellFormed) {
        const size_t count = in.ConsumeIntegralInRange<size_t>(0, 16);
        for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
            // A length of at least 1 gives the flags byte the framing needs to judge the packet.
            const size_t length = in.ConsumeIntegralInRange<size_t>(1, 300);
            Bytes packet = {0xA5, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
            Bytes body = in.ConsumeBytes<uint8_t>(length);
            body.resize(length, 0);
            body[0] = static_cast<uint8_t>(body[0] & ~NpaCommand::ContinuedFlag);
            packet.insert(packet.end(), body.begin(), body.end());
            stream.insert(stream.end(), packet.begin(), packet.end());
            packets.push_back(packet);
        }
    } else {
        stream = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    }
    // Read boundaries from what is left of the input; the rest of the stream is the last read.
    std::vector<Bytes> reads;
    size_t at = 0;
    while (at < stream.size() && in.remaining_bytes() > 0) {
        const size_t n = std::min(in.ConsumeIntegralInRange<size_t>(1, 64), stream.size() - at);
        reads.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    if (at < stream.size()) reads.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end());

    NpaTestLookup& lookup = Lookup();
    StreamPort port(lookup, channelByte, reads);
    RecordingSession session;
    Data sent(request.data(), static_cast<uint32_t>(request.size()));
    bool expectsReply = false;
    bool answered = false;
    Data reply;
    {
        NpaPacketProtocol protocol(session, port, lookup);
        // No waiting: every byte the printer will send has arrived before the wait begins.
        protocol.setTimeout(0);
        protocol.send(sent);
        port.readAll();  // an empty request writes nothing
        answered = protocol.takeReply(reply);

        std::string text;
        PropertyAccessor().SetByteArray(text, PropertyAccessor::DataByteArray, request.data(),
                                        static_cast<uint32_t>(request.size()));
        CommandManager* manager = lookup.getCommandManager(text);
        Command* command = manager->Create(text);
        expectsReply = command->ExpectsReply();
        if (answered) {
            FUZZ_CHECK(expectsReply && command->IsReplyTo(reply));
        }
        manager->Destroy(command);
    }

    FUZZ_CHECK(Total(port.delivered) + Total(port.kept) + port.storage.Size() <= stream.size());
    if (answered) {
        FUZZ_CHECK(sent.Status() == 0);
        FUZZ_CHECK(std::find(session.packets.begin(), session.packets.end(), Remaining(reply)) != session.packets.end());
    } else if (expectsReply && !request.empty()) {
        FUZZ_CHECK(sent.Status() == static_cast<int32_t>(NpaPacketProtocol::kTimedOut));
    }

    if (wellFormed) {
        std::vector<Bytes> delivered;
        std::vector<Bytes> kept;
        for (const Bytes& packet : packets) {
            const Data d(packet.data(), static_cast<uint32_t>(packet.size()));
            (FramingStep::isShortPacket(d, channelByte) ? kept : delivered).push_back(packet);
        }
        FUZZ_CHECK(port.delivered == delivered);
        FUZZ_CHECK(port.kept == kept);
        FUZZ_CHECK(port.storage.Size() == 0);
        FUZZ_CHECK(session.packets == delivered);
    }
    return 0;
}
