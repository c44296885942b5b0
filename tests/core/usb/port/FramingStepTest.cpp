// The framing step against the NPA interpreter's own packet manager: packets across reads,
// several in one read, the kept short packet, and bytes no interpreter claims.
#include "core/usb/port/FramingStep.h"
#include "tests/core/usb/port/NpaTestLookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct CollectingSink : FramingSink {
    void deliverPacket(Data& packet) override { delivered.emplace_back(packet.Bytes(), packet.Bytes() + packet.Size()); }
    void keepShortPacket(const Data& packet) override { kept.emplace_back(packet.Bytes(), packet.Bytes() + packet.Size()); }
    std::vector<Bytes> delivered;
    std::vector<Bytes> kept;
};

Data toData(const Bytes& b) { return Data(b.data(), static_cast<uint32_t>(b.size())); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kReplyA = {0xA5, 0x00, 0x06, 0x40, 0xE0, 0x71, 0x01, 0x02, 0x03};
const Bytes kReplyB = {0xA5, 0x00, 0x04, 0x40, 0x7E, 0x01, 0x02};
const Bytes kAlert = {0xA5, 0x00, 0x05, 0x00, 0xF0, 0x00, 0x07, 0x11};

struct Case {
    const char* name;
    std::vector<Bytes> reads;
    std::vector<Bytes> delivered;
    std::vector<Bytes> kept;
    Bytes left;  // what stays in the storage buffer
};

}  // namespace

TEST(FramingStepTest, CutsTheStreamIntoPacketsAcrossReads) {
    const Bytes twoInOne = concat({kReplyA, kReplyB});
    const Case cases[] = {
        {"one packet in one read", {kReplyA}, {kReplyA}, {}, {}},
        {"two packets in one read, in order", {concat({kReplyB, kReplyA, kAlert})}, {kReplyB, kReplyA, kAlert}, {}, {}},
        {"split after the header", {Bytes(kReplyA.begin(), kReplyA.begin() + 5), Bytes(kReplyA.begin() + 5, kReplyA.end())},
         {kReplyA}, {}, {}},
        {"split into single bytes past the length field",
         {Bytes(kReplyB.begin(), kReplyB.begin() + 4), {kReplyB[4]}, {kReplyB[5]}, {kReplyB[6]}}, {kReplyB}, {}, {}},
        {"a whole packet and the head of the next",
         {Bytes(twoInOne.begin(), twoInOne.begin() + 12), Bytes(twoInOne.begin() + 12, twoInOne.end())},
         {kReplyA, kReplyB}, {}, {}},
        {"short packet kept, the two look-alikes delivered",
         {{0xA5, 0x00, 0x02, 0x00, 0x00}, {0xA5, 0x00, 0x02, 0x40, 0x00}, {0xA5, 0x00, 0x02, 0x00, 0x07}},
         {{0xA5, 0x00, 0x02, 0x40, 0x00}, {0xA5, 0x00, 0x02, 0x00, 0x07}}, {{0xA5, 0x00, 0x02, 0x00, 0x00}}, {}},
        {"short packet between two packets", {concat({kReplyB, {0xA5, 0x00, 0x02, 0x00, 0x00}, kReplyA})},
         {kReplyB, kReplyA}, {{0xA5, 0x00, 0x02, 0x00, 0x00}}, {}},
        {"unclaimed head: everything raw in one packet", {concat({{0x1B, 0x45}, kReplyB})}, {concat({{0x1B, 0x45}, kReplyB})},
         {}, {}},
        {"a read ending three bytes into a packet: the head waits and the packet comes whole",
         {concat({kReplyA, {0xA5, 0x00, 0x04}}), {0x40, 0x7E, 0x01, 0x02}}, {kReplyA, kReplyB}, {}, {}},
        {"one byte alone waits", {{0xA5}}, {}, {}, {0xA5}},
        {"a short unclaimed head is raw once more bytes show it is not a packet", {{0x1B}, {0x45, 0x00, 0x00}},
         {{0x1B, 0x45, 0x00, 0x00}}, {}, {}},
        {"an incomplete packet waits", {Bytes(kReplyA.begin(), kReplyA.begin() + 7)}, {}, {},
         Bytes(kReplyA.begin(), kReplyA.begin() + 7)},
    };
    NpaTestLookup lookup;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Data storage;
        CollectingSink sink;
        for (const Bytes& read : c.reads) FramingStep::run(storage, toData(read), 0, lookup, sink);
        EXPECT_EQ(sink.delivered, c.delivered);
        EXPECT_EQ(sink.kept, c.kept);
        EXPECT_EQ(Bytes(storage.Bytes(), storage.Bytes() + storage.Size()), c.left);
    }
}

TEST(FramingStepTest, OneManagerServesTheWholeStepAndTheLogDumpsLowerCaseHex) {
    struct LoggingSink : CollectingSink {
        void log(const std::string& line) override { lines.push_back(line); }
        std::vector<std::string> lines;
    };
    NpaTestLookup lookup;
    Data storage;
    LoggingSink sink;
    FramingStep::run(storage, toData(concat({kReplyA, kReplyB, kAlert})), 0, lookup, sink);
    EXPECT_EQ(lookup.packetManagerCalls.load(), 1);
    EXPECT_EQ(sink.delivered.size(), 3u);
    ASSERT_FALSE(sink.lines.empty());
    EXPECT_EQ(sink.lines.front(), "BcxServiceUsbPort::read() bytesRead=24 data=a5000640e071010203a500044"
                                  "07e0102a5000500f0000711");
}

TEST(FramingStepTest, WithLoggingOffNoLineIsBuiltAndThePacketsAreTheSame) {
    struct QuietSink : CollectingSink {
        bool logging() const override { return false; }
        void log(const std::string&) override { ++lines; }
        int lines = 0;
    };
    NpaTestLookup lookup;
    Data storage;
    QuietSink sink;
    const Bytes all = concat({kReplyA, kReplyB, kAlert});
    for (size_t at = 0; at < all.size(); at += 5) {
        const Bytes piece(all.begin() + at, all.begin() + std::min(all.size(), at + 5));
        FramingStep::run(storage, toData(piece), 0, lookup, sink);
    }
    EXPECT_EQ(sink.delivered, (std::vector<Bytes>{kReplyA, kReplyB, kAlert}));
    EXPECT_EQ(sink.lines, 0);
    EXPECT_EQ(storage.Size(), 0u);
}

TEST(FramingStepTest, ABufferThatNeverBecomesAPacketIsDroppedAtTheBound) {
    // A manager that claims everything and always wants more, like a device that never ends one.
    struct WantsMore final : PacketManager {
        uint32_t Unwrap(const Data&, Data&, int32_t& consumed) override {
            consumed = 0;
            return 234;
        }
        uint32_t Reset(Data&) override { return 0; }
    };
    struct Lookup : InterpreterLookup {
        CommandManager* getCommandManager(const std::string&) override { return &commands; }
        PacketManager* getPacketManager(const Data&) override { return &packets; }
        NullCommandManager commands;
        WantsMore packets;
    } lookup;
    Data storage;
    CollectingSink sink;
    const Bytes chunk(64 * 1024, 0xA5);
    uint32_t largest = 0;
    for (int i = 0; i < 40; ++i) {
        FramingStep::run(storage, toData(chunk), 0, lookup, sink);
        largest = std::max(largest, storage.Size());
    }
    EXPECT_LE(largest, FramingStep::kMaxPendingBytes);
    EXPECT_TRUE(sink.delivered.empty());
}
