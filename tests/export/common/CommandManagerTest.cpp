#include "export/common/CommandManager.h"
#include "export/common/PacketManager.h"

#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

namespace {

// A prototype that tells which one made a command, and counts the commands still alive.
class Probe : public Command {
public:
    Probe(const std::string& name, int tag, int* alive) : tag_(tag), alive_(alive) {
        name_ = name;
        ++*alive_;
    }
    Probe(const std::string& text, const Probe& prototype) : Command(text), tag_(prototype.tag_), alive_(prototype.alive_) {
        name_ = prototype.name_;
        ++*alive_;
    }
    ~Probe() override { --*alive_; }
    Command* Clone(const std::string& text) const override { return new Probe(text, *this); }
    int tag() const { return tag_; }

private:
    int tag_;
    int* alive_;
};

// A prototype whose clone fails.
class Broken : public Command {
public:
    Broken() { name_ = "broken"; }
    Command* Clone(const std::string&) const override { return nullptr; }
};

struct CreateCase {
    const char* text;
    int tag;  // 0: a NullCommand
};

class CommandManagerCreate : public ::testing::Test {
protected:
    void SetUp() override {
        manager_.Register(&query_);
        manager_.Register(&raw_);
        manager_.Register(&queryAgain_);
        manager_.Register(&broken_);
        manager_.Register(nullptr);
    }

    int alive_ = 0;
    Probe query_{"queryAll", 1, &alive_};
    Probe raw_{"rawData", 2, &alive_};
    Probe queryAgain_{"queryAll", 3, &alive_};
    Broken broken_;
    CommandManager manager_;
};

TEST_F(CommandManagerCreate, ByNameRawDataOrNull) {
    const CreateCase cases[] = {
        {"<CommandName>queryAll</CommandName>", 1},  // the first registration wins
        {"<CommandName>queryAll</CommandName><Data>A5</Data>", 1},
        {"<Data>A5000550E08100FF</Data>", 2},
        {"<Data></Data>", 2},
        {"<CommandName>endJob</CommandName><Data>A5</Data>", 0},
        {"<CommandName>queryall</CommandName>", 0},
        {"<CommandName></CommandName>", 0},
        {"<CommandName>broken</CommandName>", 0},
        {"<JobId>7</JobId>", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        Command* command = manager_.Create(c.text);
        ASSERT_NE(command, nullptr) << c.text;
        auto* probe = dynamic_cast<Probe*>(command);
        if (c.tag == 0) {
            EXPECT_NE(dynamic_cast<NullCommand*>(command), nullptr) << c.text;
        } else {
            ASSERT_NE(probe, nullptr) << c.text;
            EXPECT_EQ(probe->tag(), c.tag) << c.text;
        }
        manager_.Destroy(command);
    }
    EXPECT_EQ(alive_, 3) << "only the prototypes are left";
}

TEST_F(CommandManagerCreate, ClonesCarryTheTextBytes) {
    std::unique_ptr<Command> command(manager_.Create("<Data>0A0B</Data>"));
    ASSERT_EQ(command->Size(), 2u);
    EXPECT_EQ(command->Bytes()[1], 0x0B);
    EXPECT_EQ(command->Name(), "rawData");
}

TEST_F(CommandManagerCreate, WithoutRawDataPrototypeBytesGiveNull) {
    CommandManager other;
    other.Register(&query_);
    std::unique_ptr<Command> command(other.Create("<Data>A5000550E08100FF</Data>"));
    EXPECT_NE(dynamic_cast<NullCommand*>(command.get()), nullptr);
}

TEST_F(CommandManagerCreate, DestroyListDeletesEveryCommand) {
    std::list<Command*> commands;
    for (int i = 0; i < 4; ++i) {
        commands.push_back(manager_.Create("<CommandName>queryAll</CommandName>"));
    }
    EXPECT_EQ(alive_, 7);
    manager_.DestroyList(commands);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(alive_, 3);
    manager_.Destroy(nullptr);
}

TEST_F(CommandManagerCreate, DefaultSlots) {
    const uint8_t packet[] = {0xA5, 0x00, 0x05, 0x10, 0xE0, 0x81, 0x00, 0xFF};
    std::unique_ptr<Command> fromPacket(manager_.CreateFromPacket(Data(packet, sizeof packet)));
    EXPECT_NE(dynamic_cast<NullCommand*>(fromPacket.get()), nullptr);
    EXPECT_EQ(fromPacket->Size(), 0u);

    std::list<Command*> alerts;
    EXPECT_EQ(manager_.CreateAlertCommands("<NewAlertMask>1</NewAlertMask>", alerts), 1u);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(CommandManagerCreate, ManagerDoesNotDeletePrototypes) {
    {
        CommandManager scoped;
        scoped.Register(&query_);
    }
    EXPECT_EQ(alive_, 3);
    EXPECT_EQ(query_.Name(), "queryAll");
}

TEST(NullCommandManager, AlwaysCreatesNullCommands) {
    int alive = 0;
    Probe raw("rawData", 2, &alive);
    Probe query("queryAll", 1, &alive);
    NullCommandManager manager;
    manager.Register(&raw);
    manager.Register(&query);
    for (const char* text : {"<CommandName>queryAll</CommandName>", "<Data>A500</Data>", ""}) {
        std::unique_ptr<Command> command(manager.Create(text));
        EXPECT_NE(dynamic_cast<NullCommand*>(command.get()), nullptr) << text;
    }
    EXPECT_EQ(alive, 2);
}

TEST(NullPacketManager, UnwrapTakesEverythingResetDoesNothing) {
    std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    Data in(bytes.data(), static_cast<uint32_t>(bytes.size()));
    in.Consume(1, false);  // 10 bytes remain
    const uint8_t old[] = {0xEE, 0xEE};
    Data out(old, 2);
    int32_t consumed = -1;
    NullPacketManager manager;
    PacketManager& interface = manager;

    EXPECT_EQ(interface.Unwrap(in, out, consumed), 0u);
    EXPECT_EQ(consumed, 10);
    ASSERT_EQ(out.Size(), 10u);
    EXPECT_EQ(std::vector<uint8_t>(out.Bytes(), out.Bytes() + 10), std::vector<uint8_t>(bytes.begin() + 1, bytes.end()));
    EXPECT_EQ(in.Size(), 10u) << "input is not consumed";

    EXPECT_EQ(interface.Unwrap(Data(), out, consumed), 0u);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(out.Size(), 0u);

    EXPECT_EQ(interface.Reset(in), 1u);
    EXPECT_EQ(in.Size(), 10u);
}

}  // namespace
