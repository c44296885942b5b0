#include "interpreters/npa/NpaCommand.h"

#include "NpaTestBytes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct ReassemblyCase {
    const char* what;
    std::string input;
    uint32_t rc;
    int32_t consumed;
    const char* output;  // what is appended to the output
};

const char* const kFirst = "A5 00 06 70 E0 81 01 02 03 ";  // continued
const char* const kLast = "A5 00 04 50 E0 81 04 ";

std::string Join(std::initializer_list<const char*> parts) {
    std::string s;
    for (const char* p : parts) {
        s += p;
        s += ' ';
    }
    return s;
}

TEST(NpaReassembly, JoinsContinuedPacketsAndReportsWhatItUsed) {
    const ReassemblyCase cases[] = {
        {"two fragments", Join({kFirst, kLast}), 0, 16, "A5 00 08 50 E0 81 01 02 03 81 04"},
        {"the next packet stays", Join({kFirst, kLast, "A5 00 05 10 E0 81 00 FF"}), 0, 16, "A5 00 08 50 E0 81 01 02 03 81 04"},
        {"three fragments", Join({kFirst, "A5 00 04 70 E0 81 EE", kLast}), 0, 23, "A5 00 0A 50 E0 81 01 02 03 81 EE 81 04"},
        {"another command inside the chain is dropped", Join({kFirst, "A5 00 04 10 F0 01 02", kLast}), 0, 23,
         "A5 00 08 50 E0 81 01 02 03 81 04"},
        {"single packet", "A5 00 05 10 E0 81 00 FF A5 00 02", 0, 8, "A5 00 05 10 E0 81 00 FF"},
        {"flags only", "A5 00 01 10", 0, 4, "A5 00 01 10"},
        {"empty", "", 1629, 0, ""},
        {"three bytes", "A5 00 05", 1629, 0, ""},
        {"not a packet start", "5A 00 05 10 E0 81 00 FF", 1629, 0, ""},
        {"first packet truncated", "A5 00 05 10 E0 81", 234, 0, ""},
        {"length field beyond the buffer", "A5 FF FF 10 E0", 234, 0, ""},
        {"chain without its last fragment", kFirst, 234, 0, ""},
        {"last fragment truncated", Join({kFirst, "A5 00 04 50 E0 81"}), 234, 0, ""},
        {"last fragment: start byte only", Join({kFirst, "A5"}), 234, 0, ""},
        {"last fragment: two bytes", Join({kFirst, "A5 00"}), 234, 0, ""},
        // The chain ends where the bytes stop being NPA; the rest is left for the next call.
        {"garbage after a continued packet", Join({kFirst, "00 11 22 33"}), 0, 9,
         "A5 00 06 70 E0 81 01 02 03"},
        {"3-byte packet after a continued packet", Join({kFirst, "A5 00 00 50"}), 0, 9,
         "A5 00 06 70 E0 81 01 02 03"},
        {"length 0 carries no flags: delivered alone", "A5 00 00 70 E0", 0, 3, "A5 00 00"},
    };
    for (const auto& c : cases) {
        const Data in = HexData(c.input);
        const std::vector<uint8_t> before = Remaining(in);
        Data out = HexData("EE");
        int32_t consumed = -1;
        EXPECT_EQ(ReassembleNpaPacket(in, out, consumed), c.rc) << c.what;
        EXPECT_EQ(consumed, c.consumed) << c.what;
        std::vector<uint8_t> expected = Hex("EE");
        const std::vector<uint8_t> appended = Hex(c.output);
        expected.insert(expected.end(), appended.begin(), appended.end());
        EXPECT_EQ(Remaining(out), expected) << c.what;
        EXPECT_EQ(Remaining(in), before) << c.what << ": input changed";
    }
}

TEST(NpaReassembly, MoreBytesCompleteAWaitingChain) {
    Data stream = HexData(kFirst);
    Data out;
    int32_t consumed = -1;
    ASSERT_EQ(ReassembleNpaPacket(stream, out, consumed), 234u);
    stream.Append(HexData("A5 00 04"));
    ASSERT_EQ(ReassembleNpaPacket(stream, out, consumed), 234u);
    stream.Append(HexData("50 E0 81 04 A5"));
    ASSERT_EQ(ReassembleNpaPacket(stream, out, consumed), 0u);
    EXPECT_EQ(consumed, 16);
    EXPECT_EQ(Remaining(out), Hex("A5 00 08 50 E0 81 01 02 03 81 04"));
}

// A message longer than one packet can describe is delivered in pieces whose headers tell the
// truth, instead of one packet whose 16-bit length has wrapped.
TEST(NpaReassembly, OverlongMessageIsSplitWhereTheLengthFieldEnds) {
    std::vector<uint8_t> stream = Hex("A5 FF FD 70 E0");
    stream.resize(0xFFFD + 3, 0x11);
    const std::vector<uint8_t> tail = Hex("A5 00 06 50 E0 81 01 02 03");
    stream.insert(stream.end(), tail.begin(), tail.end());
    Data in(stream.data(), static_cast<uint32_t>(stream.size()));

    Data out;
    int32_t consumed = 0;
    ASSERT_EQ(ReassembleNpaPacket(in, out, consumed), 0u);
    EXPECT_EQ(consumed, 0xFFFD + 3);
    NpaCommand piece(out);
    EXPECT_TRUE(piece.IsWellFormed());
    EXPECT_TRUE(piece.IsContinued()) << "the reader can see that more follows";
    EXPECT_EQ(piece.Size(), 0xFFFDu + 3);

    in.Consume(static_cast<uint32_t>(consumed), true);
    out.Clear();
    ASSERT_EQ(ReassembleNpaPacket(in, out, consumed), 0u);
    EXPECT_EQ(consumed, 9);
    EXPECT_EQ(Remaining(out), tail);
}

TEST(NpaReassembly, FillsTheLengthFieldExactly) {
    std::vector<uint8_t> stream = Hex("A5 FF FD 70 E0");
    stream.resize(0xFFFD + 3, 0x11);
    const std::vector<uint8_t> tail = Hex("A5 00 04 50 E0 81 22");
    stream.insert(stream.end(), tail.begin(), tail.end());
    Data out;
    int32_t consumed = 0;
    ASSERT_EQ(ReassembleNpaPacket(Data(stream.data(), static_cast<uint32_t>(stream.size())), out, consumed), 0u);
    EXPECT_EQ(consumed, static_cast<int32_t>(stream.size()));
    const NpaCommand packet(out);
    EXPECT_TRUE(packet.IsComplete());
    EXPECT_EQ(packet.Length(), 0xFFFF);
    EXPECT_EQ(packet.Bytes()[packet.Size() - 1], 0x22);
}

// Random streams made of A5-led pieces with random lengths and flags: whatever comes out must
// be a packet whose length field matches its size, built only from bytes that were there.
TEST(NpaReassembly, RandomStreamsNeverYieldALyingHeader) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> stream;
        const int pieces = 1 + static_cast<int>(random() % 5);
        for (int i = 0; i < pieces; ++i) {
            const uint32_t length = random() % 4 == 0 ? random() % 0x10000 : random() % 12;
            const uint32_t present = random() % 3 == 0 ? random() % (length + 4) : length + 3;
            std::vector<uint8_t> piece = {0xA5, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                                          static_cast<uint8_t>(random() % 2 ? 0x70 : 0x50), 0xE0};
            piece.resize(present, static_cast<uint8_t>(random()));
            stream.insert(stream.end(), piece.begin(), piece.end());
            if (random() % 10 == 0) {
                stream.push_back(static_cast<uint8_t>(random()));
            }
        }
        const Data in(stream.data(), static_cast<uint32_t>(stream.size()));
        Data out;
        int32_t consumed = -1;
        const uint32_t rc = ReassembleNpaPacket(in, out, consumed);
        ASSERT_TRUE(rc == 0 || rc == 234 || rc == 1629) << rc;
        if (rc != 0) {
            ASSERT_EQ(consumed, 0);
            ASSERT_EQ(out.Size(), 0u);
            continue;
        }
        ASSERT_GT(consumed, 0);
        ASSERT_LE(static_cast<uint32_t>(consumed), in.Size());
        ASSERT_LE(out.Size(), static_cast<uint32_t>(consumed));
        const NpaCommand packet(out);
        ASSERT_EQ(packet.Size(), static_cast<uint32_t>(packet.Length()) + 3) << "round " << round;
    }
}

}  // namespace
