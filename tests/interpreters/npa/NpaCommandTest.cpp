#include "interpreters/npa/NpaCommand.h"

#include "NpaTestBytes.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

NpaCommand Packet(const std::string& hex) {
    return NpaCommand(HexData(hex));
}

const char* const kQueryAll = "A5 00 05 50 E0 81 00 FF";

TEST(NpaCommandHeader, ReadsAndWritesTheFields) {
    NpaCommand p = Packet(kQueryAll);
    EXPECT_EQ(p.Length(), 5);
    EXPECT_EQ(p.Flags(), 0x50);
    EXPECT_EQ(p.CommandCode(), 0xE0);
    EXPECT_EQ(p.PayloadLength(), 3u);
    ASSERT_NE(p.Payload(), nullptr);
    EXPECT_EQ(p.Payload()[0], 0x81);

    p.SetLength(0x1234);
    p.SetFlags(0x80);
    EXPECT_EQ(Remaining(p), Hex("A5 12 34 80 E0 81 00 FF"));
    EXPECT_EQ(p.Length(), 0x1234);
}

TEST(NpaCommandHeader, ShortBuffersReadZeroAndIgnoreWrites) {
    for (const char* hex : {"", "A5", "A5 00", "A5 00 05"}) {
        NpaCommand p = Packet(hex);
        const std::vector<uint8_t> before = Remaining(p);
        p.SetFlags(0xFF);
        p.SetReplyRequested(true);
        EXPECT_EQ(p.Flags(), 0) << hex;
        EXPECT_EQ(p.CommandCode(), 0) << hex;
        EXPECT_EQ(p.PayloadLength(), 0u) << hex;
        EXPECT_EQ(p.Payload(), nullptr) << hex;
        EXPECT_EQ(Remaining(p), before) << hex;
    }
    NpaCommand two = Packet("A5 00");
    two.SetLength(9);
    EXPECT_EQ(two.Length(), 0);
    EXPECT_EQ(Remaining(two), Hex("A5 00"));
}

TEST(NpaCommandHeader, PayloadNeverReachesPastTheBuffer) {
    struct {
        const char* hex;
        uint32_t payload;
    } cases[] = {
        {"A5 FF FF 50 E0 81 00 FF", 3},  // length claims 65535
        {"A5 00 01 50 E0 81", 0},        // length 1 counts no command byte
        {"A5 00 01 50", 0},
        {"A5 00 00 50 E0 81", 0},        // length below 2
        {"A5 00 02 50 E0", 0},
        {"A5 00 03 50 E0 81", 1},
    };
    for (const auto& c : cases) {
        const NpaCommand p = Packet(c.hex);
        EXPECT_EQ(p.PayloadLength(), c.payload) << c.hex;
    }
}

TEST(NpaCommandConstruction, CommandCodeAndBytesFromEachSource) {
    Data cursorMoved = HexData("00 00 A5 00 03 10 F0 01");
    cursorMoved.Consume(2, false);
    const NpaCommand fromData(cursorMoved);
    EXPECT_EQ(fromData.CommandCode(), 0xF0);
    EXPECT_EQ(Remaining(fromData), Hex("A5 00 03 10 F0 01"));

    const std::vector<uint8_t> bytes = Hex(kQueryAll);
    EXPECT_EQ(NpaCommand(bytes.data(), 8).CommandCode(), 0xE0);
    EXPECT_EQ(NpaCommand(bytes.data(), 4).CommandCode(), 0) << "shorter than 5 bytes";

    const NpaCommand fromText(std::string("<Data>A5000550E08100FF</Data>"));
    EXPECT_EQ(fromText.CommandCode(), 0);
    EXPECT_EQ(Remaining(fromText), bytes);

    std::unique_ptr<Command> clone(fromData.Clone("<Data>A5000550E08100FF</Data>"));
    auto* npa = dynamic_cast<NpaCommand*>(clone.get());
    ASSERT_NE(npa, nullptr);
    EXPECT_EQ(Remaining(*npa), bytes);
    EXPECT_TRUE(npa->MaySendRaw());
}

struct ShapeCase {
    const char* hex;
    bool protocol;
    bool wellFormed;
    bool continued;
    bool complete;
    bool expectsReply;
    bool control;
};

TEST(NpaCommandShape, PredicatesLookOnlyInsideTheBuffer) {
    const ShapeCase cases[] = {
        //                                 proto  wellF  cont   compl  reply  ctrl
        {kQueryAll,                        true,  true,  false, true,  true,  false},
        {"A5 00 05",                       false, false, false, false, false, false},
        {"",                               false, false, false, false, false, false},
        {"5A 00 05 50 E0 81 00 FF",        false, false, false, false, true,  false},
        {"A5 00 01 40",                    true,  true,  false, true,  false, false},
        {"A5 00 05 70 E0 81 00 FF",        true,  true,  true,  false, true,  false},
        {"A5 00 06 50 E0 81 00 FF",        true,  false, false, false, true,  false},  // one byte short
        {"A5 00 04 50 E0 81 00 FF",        true,  false, false, false, true,  false},  // one byte extra
        {"A5 FF FF 10 E0",                 true,  false, false, false, true,  false},
        {"A5 00 03 00 F0 01",              true,  true,  false, true,  false, true},
        {"A5 00 03 00 FF 01",              true,  true,  false, true,  false, true},
        {"A5 00 03 00 FE 01",              true,  true,  false, true,  false, false},
        {"A5 00 01 00",                    true,  true,  false, true,  false, false},  // no command byte
        {"A5 00 00",                       false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        const NpaCommand p = Packet(c.hex);
        EXPECT_EQ(p.IsProtocolPacket(), c.protocol) << c.hex;
        EXPECT_EQ(p.IsWellFormed(), c.wellFormed) << c.hex;
        EXPECT_EQ(p.IsContinued(), c.continued) << c.hex;
        EXPECT_EQ(p.IsComplete(), c.complete) << c.hex;
        EXPECT_EQ(p.ExpectsReply(), c.expectsReply) << c.hex;
        EXPECT_EQ(p.IsControlPacket(), c.control) << c.hex;
    }
}

TEST(NpaCommandShape, AcknowledgeAndFlag7) {
    const NpaCommand any = Packet(kQueryAll);
    struct {
        const char* hex;
        bool acknowledge;
        bool flag7;
    } cases[] = {
        {"A5 00 05 40 FF 80 00 00", true, false},
        {"A5 00 05 00 FF 80 00 00", true, false},
        {"A5 00 05 C0 FF 80 00 00", true, true},
        {"A5 00 05 40 FF 80 00 00 00", false, false},
        {"A5 00 05 40 FF 80 00", false, false},
        {"A5 00 05 40 FF 80 00 01", false, false},
        {"A5 00 05 40 FF 81 00 00", false, false},
        {"A4 00 05 40 FF 80 00 00", false, false},
        {"A5 00 02 80 00", false, true},
        {"A5 00 02 7F 00", false, false},
        {"5A 00 02 80 00", false, false},
        {"A5 00 02", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        const Data packet = HexData(c.hex);
        EXPECT_EQ(any.IsAcknowledge(packet), c.acknowledge) << c.hex;
        EXPECT_EQ(any.IsFlag7Set(packet), c.flag7) << c.hex;
    }
}

TEST(NpaCommandShape, SetReplyRequestedTouchesOnlyBit4) {
    NpaCommand p = Packet("A5 00 02 EF 00");
    p.SetReplyRequested(true);
    EXPECT_EQ(p.Flags(), 0xFF);
    EXPECT_TRUE(p.ExpectsReply());
    p.SetReplyRequested(false);
    EXPECT_EQ(p.Flags(), 0xEF);
    EXPECT_FALSE(p.ExpectsReply());
    p.SetReplyRequested(false);
    EXPECT_EQ(Remaining(p), Hex("A5 00 02 EF 00"));
}

struct ReplyCase {
    const char* what;
    const char* request;
    const char* reply;
    bool matches;
};

TEST(NpaCommandReply, MatchesOnlyItsOwnReply) {
    const ReplyCase cases[] = {
        {"query-all reply", kQueryAll, "A5 00 05 10 E0 81 00 FF", true},
        {"E0 81 byte 7 = F0", kQueryAll, "A5 00 05 10 E0 81 00 F0", true},
        {"E0 81 byte 7 differs", kQueryAll, "A5 00 05 10 E0 81 00 01", false},
        {"E0 81 longer reply, byte 7 equal", kQueryAll, "A5 00 07 10 E0 81 00 FF 12 34", true},
        {"byte 6 differs", kQueryAll, "A5 00 05 10 E0 81 01 FF", false},
        {"command differs", kQueryAll, "A5 00 05 10 E1 81 00 FF", false},
        {"sub-command differs", kQueryAll, "A5 00 05 10 E0 82 00 FF", false},
        {"not an NPA reply", kQueryAll, "A4 00 05 10 E0 81 00 FF", false},
        {"reply of 4 bytes", kQueryAll, "A5 00 05 10", false},
        {"reply of 5 bytes: command only", kQueryAll, "A5 00 02 10 E0", true},
        {"reply of 6 bytes", kQueryAll, "A5 00 03 10 E0 81", true},
        {"reply of 7 bytes, byte 6 equal", kQueryAll, "A5 00 04 10 E0 81 00", true},
        {"E0 71 matches whatever follows", "A5 00 05 50 E0 71 01 02", "A5 00 07 10 E0 71 09 09 09 09", true},
        {"E0 71 needs the sub-command", "A5 00 05 50 E0 71 01 02", "A5 00 07 10 E0 72 01 02", false},
        {"03 04 equal lengths", "A5 00 05 50 03 04 00 01", "A5 00 05 10 03 04 07 07", true},
        {"03 04 other length", "A5 00 05 50 03 04 00 01", "A5 00 06 10 03 04 00 01 00", false},
        {"E0 61 ignores byte 6", "A5 00 05 50 E0 61 01 02", "A5 00 05 10 E0 61 09 09", true},
        {"E0 87 ignores byte 6", "A5 00 05 50 E0 87 01 02", "A5 00 05 10 E0 87 09 09", true},
        {"E0 83 checks byte 6", "A5 00 05 50 E0 83 01 02", "A5 00 05 10 E0 83 09 02", false},
        {"E0 83 ignores byte 7", "A5 00 05 50 E0 83 01 02", "A5 00 05 10 E0 83 01 09", true},
        {"other command ignores byte 6", "A5 00 06 50 05 00 00 00 00", "A5 00 06 10 05 00 09 09 09", true},
        {"request not a packet", "A5 00 05", "A5 00 05 10 E0 81 00 FF", false},
        {"request without command byte", "A5 00 01 50", "A5 00 02 10 00", false},
        {"request without sub-command", "A5 00 02 50 E0", "A5 00 03 10 E0 81", false},
        {"request without byte 6", "A5 00 03 50 E0 81", "A5 00 04 10 E0 81 00", false},
        {"request without byte 7", "A5 00 04 50 E0 81 00", "A5 00 05 10 E0 81 00 FF", false},
        {"request without byte 7, reply F0", "A5 00 04 50 E0 81 00", "A5 00 05 10 E0 81 00 F0", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Packet(c.request).IsReplyTo(HexData(c.reply)), c.matches) << c.what;
    }
}

TEST(NpaCommandRaw, RefusesIncompleteAndServiceOwnedPackets) {
    struct {
        const char* what;
        const char* hex;
        bool allowed;
    } cases[] = {
        {"query-all", kQueryAll, true},
        {"3 bytes", "A5 00 05", false},
        {"empty", "", false},
        {"continued", "A5 00 05 70 E0 81 00 FF", false},
        {"length too long", "A5 00 06 50 E0 81 00 FF", false},
        {"trailing byte", "A5 00 05 50 E0 81 00 FF 00", false},
        {"not NPA", "5A 00 05 50 E0 81 00 FF", false},
        {"job start", "A5 00 06 50 05 00 00 00 00", false},
        {"job end", "A5 00 06 50 05 01 00 00 07", false},
        {"other job command", "A5 00 06 50 05 02 00 00 00", true},
        {"E0 73 01 of 9 bytes", "A5 00 06 50 E0 73 01 00 00", false},
        {"E0 73 02 of 9 bytes", "A5 00 06 50 E0 73 02 00 00", true},
        {"E0 73 01 of 10 bytes", "A5 00 07 50 E0 73 01 00 00 00", true},
        {"command 05 without sub-command", "A5 00 02 50 05", true},
        {"flags only", "A5 00 01 50", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Packet(c.hex).MaySendRaw(), c.allowed) << c.what;
    }
}

TEST(NpaCommandMerge, AppendsPayloadAndTakesTheLastFlags) {
    NpaCommand first = Packet("A5 00 06 70 E0 81 01 02 03");
    EXPECT_TRUE(first.Merge(Packet("A5 00 04 50 E0 81 04")));
    EXPECT_EQ(Remaining(first), Hex("A5 00 08 50 E0 81 01 02 03 81 04"));
    EXPECT_TRUE(first.IsComplete());

    EXPECT_FALSE(first.Merge(Packet("A5 00 04 50 F0 81 04"))) << "other command code";
    EXPECT_EQ(Remaining(first), Hex("A5 00 08 50 E0 81 01 02 03 81 04"));

    EXPECT_TRUE(first.Merge(Packet("A5 00 02 70 E0"))) << "no payload, flags only";
    EXPECT_EQ(Remaining(first), Hex("A5 00 08 70 E0 81 01 02 03 81 04"));

    // A fragment whose length field overstates its bytes adds only the bytes it has.
    EXPECT_TRUE(first.Merge(Packet("A5 01 00 50 E0 AA")));
    EXPECT_EQ(Remaining(first), Hex("A5 00 09 50 E0 81 01 02 03 81 04 AA"));
}

TEST(NpaCommandMerge, RefusesToWrapTheLengthField) {
    std::vector<uint8_t> big = Hex("A5 FF FD 70 E0");
    big.resize(0xFFFD + 3, 0x11);
    NpaCommand first(big.data(), static_cast<uint32_t>(big.size()));
    ASSERT_TRUE(first.IsWellFormed());

    EXPECT_FALSE(first.Merge(Packet("A5 00 05 50 E0 01 02 03")));  // 0xFFFD + 3 > 0xFFFF
    EXPECT_EQ(first.Size(), big.size());
    EXPECT_EQ(first.Length(), 0xFFFD);
    EXPECT_TRUE(first.IsContinued());

    EXPECT_TRUE(first.Merge(Packet("A5 00 04 50 E0 01 02")));  // exactly 0xFFFF
    EXPECT_EQ(first.Length(), 0xFFFF);
    EXPECT_EQ(first.Size(), 0xFFFFu + 3);
    EXPECT_TRUE(first.IsComplete());
}

}  // namespace
