#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcParameter.h"
#include "tests/core/ipc/IpcTestBytes.h"

#include <gtest/gtest.h>

namespace {

const std::string kText = "<Handler>AlertHandler</Handler><Handle>8193</Handle><ClientId>7</ClientId>";

TEST(IpcCallbackMessage, BuildsTheCallbackByteExactly) {
    const Bytes packet = Hex("A5 00 04 C0 FF");
    const Data payload = IpcCallbackMessage::build(kText, packet.data(), packet.size());
    // The text is 74 characters, 75 bytes with its zero.
    ASSERT_EQ(kText.size(), 74u);
    EXPECT_EQ(FromData(payload), Concat({Hex("03 E9  01 09 00 00 00 00 00 00 00 4B"), Text(kText), Hex("00"),
                                         Hex("01 0A 00 00 00 00 00 00 00 05 A5 00 04 C0 FF")}));
}

TEST(IpcCallbackMessage, ParsesWhatItBuilds) {
    const Bytes packet = Hex("A5 00 04 C0 FF");
    std::string text;
    std::vector<uint8_t> bytes;
    EXPECT_EQ(IpcCallbackMessage::parse(IpcCallbackMessage::build(kText, packet.data(), packet.size()), text, bytes), 0);
    EXPECT_EQ(text, kText);
    EXPECT_EQ(bytes, packet);

    EXPECT_EQ(IpcCallbackMessage::parse(IpcCallbackMessage::build("", nullptr, 0), text, bytes), 0);
    EXPECT_EQ(text, "");
    EXPECT_TRUE(bytes.empty());
}

TEST(IpcCallbackMessage, RejectsMalformedCallbacksAndKeepsTheOutputs) {
    const Bytes good = FromData(IpcCallbackMessage::build("T", Hex("01").data(), 1));
    struct Case {
        const char* what;
        Bytes payload;
        int32_t code;
    };
    const Case cases[] = {
        {"empty", {}, IpcParameter::kBadLength},
        {"another function", Concat({Hex("00 22"), Bytes(good.begin() + 2, good.end())}), IpcCallbackMessage::kNotACallback},
        {"packet cut short", Bytes(good.begin(), good.end() - 1), IpcParameter::kBadLength},
        {"bytes after the packet", Concat({good, Hex("00")}), IpcParameter::kBadLength},
        {"text without its zero", Hex("03 E9 01 09 00 00 00 00 00 00 00 01 54 01 0A 00 00 00 00 00 00 00 00"),
         IpcParameter::kBadString},
        {"packet first", Hex("03 E9 01 0A 00 00 00 00 00 00 00 00"), IpcParameter::kWrongType},
    };
    for (const Case& c : cases) {
        std::string text = "kept";
        std::vector<uint8_t> bytes = {0xEE};
        EXPECT_EQ(IpcCallbackMessage::parse(ToData(c.payload), text, bytes), c.code) << c.what;
        EXPECT_EQ(text, "kept") << c.what;
        EXPECT_EQ(bytes, Bytes{0xEE}) << c.what;
    }
}

TEST(IpcCallbackMessage, BuildsTheClientsReply) {
    EXPECT_EQ(FromData(IpcCallbackMessage::buildReply(0)), Hex("03 E9 04 01 00 00 00 00 00 00 00 04 00 00 00 00"));
    EXPECT_EQ(FromData(IpcCallbackMessage::buildReply(1460)), Hex("03 E9 04 01 00 00 00 00 00 00 00 04 00 00 05 B4"));
}

TEST(IpcCallbackMessage, InterpretsTheReplyByTheDeliveryRule) {
    struct Case {
        const char* what;
        Bytes reply;
        int32_t code;
    };
    const Bytes ok = Hex("03 E9 04 01 00 00 00 00 00 00 00 04 00 00 00 00");
    const Case cases[] = {
        {"no reply", {}, 1359},
        {"one byte short of a return code", Bytes(ok.begin(), ok.end() - 1), 1359},
        {"success", ok, 0},
        {"client's failure", Hex("03 E9 04 01 00 00 00 00 00 00 00 04 00 00 00 1F"), 31},
        {"negative code", Hex("03 E9 04 01 00 00 00 00 00 00 00 04 FF FF FF FF"), -1},
        {"another id echoed", Hex("00 22 04 01 00 00 00 00 00 00 00 04 00 00 00 00"), 1359},
        {"first parameter a returned long", Hex("03 E9 02 01 00 00 00 00 00 00 00 04 00 00 00 09"), 0},
        {"first parameter a string", Hex("03 E9 04 09 00 00 00 00 00 00 00 04 41 42 43 00"), 0},
        {"return code declaring 8 bytes", Hex("03 E9 04 01 00 00 00 00 00 00 00 08 00 00 00 05 00 00 00 00"), 1359},
        {"return code declaring more than sent", Hex("03 E9 04 01 00 00 00 00 00 00 00 40 00 00 00 05"), 1359},
        {"more parameters after the code", Concat({Hex("03 E9 04 01 00 00 00 00 00 00 00 04 00 00 00 05"),
                                                   Hex("02 01 00 00 00 00 00 00 00 04 00 00 00 01")}),
         5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IpcCallbackMessage::interpretReply(ToData(c.reply)), c.code) << c.what;
    }
    // The connect result stands when the reply echoes the id without a return code.
    EXPECT_EQ(IpcCallbackMessage::interpretReply(ToData(Hex("03 E9 02 01 00 00 00 00 00 00 00 04 00 00 00 09")), 3), 3);
}

}  // namespace
