#include "export/common/Command.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> Remaining(const Data& d) {
    return d.Size() == 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size());
}

TEST(CommandConstruction, BytesComeFromTheDataProperty) {
    struct {
        const char* text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"<Data>A5000550E08100FF</Data>", {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x81, 0x00, 0xFF}},
        {"<CommandName>queryAll</CommandName><Data>0102</Data>", {0x01, 0x02}},
        {"<Data>A5000</Data>", {0xA5, 0x00}},
        {"<Data></Data>", {}},
        {"<Data>A5", {}},
        {"<Other>A5</Other>", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const Command command{std::string(c.text)};
        EXPECT_EQ(Remaining(command), c.bytes) << c.text;
        EXPECT_TRUE(command.Name().empty());
        EXPECT_TRUE(command.ResultText().empty());
    }
}

TEST(CommandConstruction, FromDataAndFromBytes) {
    const uint8_t raw[] = {1, 2, 3};
    Data source(raw, 3);
    source.Consume(1, false);
    source.SetStatus(31);
    source.SetCount(3);
    const Command fromData(source);
    EXPECT_EQ(Remaining(fromData), (std::vector<uint8_t>{2, 3}));
    EXPECT_EQ(fromData.Status(), 31);
    EXPECT_EQ(fromData.Count(), 3);
    EXPECT_EQ(Remaining(Command(raw, 3)), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Command().Bytes(), nullptr);
}

TEST(CommandCompare, OnlyRemainingBytesCount) {
    const uint8_t a[] = {9, 1, 2, 3};
    const uint8_t b[] = {1, 2, 3};
    Command left(a, 4);
    left.Consume(1, false);
    const Data right(b, 3);
    EXPECT_TRUE(left.Equals(right));
    EXPECT_FALSE(left.Differs(right));

    const uint8_t c[] = {1, 2, 4};
    EXPECT_FALSE(left.Equals(Data(c, 3)));
    EXPECT_TRUE(left.Differs(Data(c, 3)));
    EXPECT_FALSE(left.Equals(Data(b, 2)));
    EXPECT_TRUE(Command().Equals(Data()));
    left.Consume(3, false);
    EXPECT_TRUE(left.Equals(Data())) << "nothing remaining on either side";
}

TEST(CommandSlots, BaseAndNullCommandAnswerNo) {
    const uint8_t packet[] = {0xA5, 0x00, 0x05, 0xD0, 0xFF, 0x80, 0x00, 0x00};
    const Data reply(packet, sizeof packet);
    Command base(packet, sizeof packet);
    NullCommand null;
    for (Command* command : {static_cast<Command*>(&base), static_cast<Command*>(&null)}) {
        EXPECT_FALSE(command->IsReplyTo(reply));
        EXPECT_EQ(command->DecodeReply(reply), 1u);
        EXPECT_EQ(command->Reserved(), 1u);
        EXPECT_FALSE(command->ExpectsReply());
        EXPECT_FALSE(command->IsProtocolPacket());
        EXPECT_FALSE(command->MaySendRaw());
        EXPECT_FALSE(command->IsFlag7Set(reply));
        EXPECT_FALSE(command->IsControlPacket());
        EXPECT_FALSE(command->IsAcknowledge(reply));
        command->SetReplyRequested(true);
        EXPECT_TRUE(command->ResultText().empty());
    }
    EXPECT_EQ(Remaining(base), std::vector<uint8_t>(packet, packet + sizeof packet)) << "SetReplyRequested changes nothing";
    EXPECT_EQ(null.Size(), 0u);
}

TEST(CommandSlots, CloneBuildsTheSameClassFromText) {
    const Command base;
    std::unique_ptr<Command> clone(base.Clone("<Data>0102</Data>"));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(Remaining(*clone), (std::vector<uint8_t>{1, 2}));

    const NullCommand null;
    std::unique_ptr<Command> nullClone(null.Clone("<Data>0102</Data>"));
    ASSERT_NE(nullClone, nullptr);
    EXPECT_NE(dynamic_cast<NullCommand*>(nullClone.get()), nullptr);
    EXPECT_EQ(nullClone->Size(), 0u);
}

}  // namespace
