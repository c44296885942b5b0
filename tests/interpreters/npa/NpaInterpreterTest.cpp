// The plug-in's process-wide life cycle: reference-counted initialisation, the managers it hands
// out, and concurrent first use.
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/NpaInterpreter.h"

#include "NpaRequestCases.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

// Leaves the interpreter as it found it (uninitialised) even when a check fails half-way.
class NpaInterpreterLife : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NpaInterpreter::InitializationCount(), 0); }
    void TearDown() override {
        while (NpaInterpreter::InitializationCount() > 0) {
            NpaInterpreter::Uninitialize();
        }
    }
};

// Whether the current command manager serves "queryAll" (a NullCommand has no bytes or name).
bool ServesQueryAll() {
    CommandManager* manager = NpaInterpreter::GetCommandManager();
    Command* command = manager->Create(Named("queryAll"));
    const bool served = command->Name() == "queryAll" && command->IsProtocolPacket();
    manager->Destroy(command);
    return served;
}

TEST_F(NpaInterpreterLife, CountsUsersAndDestroysOnTheLast) {
    EXPECT_FALSE(ServesQueryAll()) << "managers exist before initialisation but hold no prototypes";

    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    CommandManager* manager = NpaInterpreter::GetCommandManager();
    EXPECT_TRUE(ServesQueryAll());

    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
    EXPECT_EQ(NpaInterpreter::GetCommandManager(), manager) << "one user left: the manager survives";
    EXPECT_TRUE(ServesQueryAll());

    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
    EXPECT_FALSE(ServesQueryAll()) << "after the last user, a new empty manager";

    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    EXPECT_TRUE(ServesQueryAll());
    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
}

TEST_F(NpaInterpreterLife, UnbalancedUninitialiseIsRefusedAndHarmless) {
    EXPECT_EQ(NpaInterpreter::Uninitialize(), 1u);
    EXPECT_EQ(NpaInterpreter::InitializationCount(), 0);
    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    EXPECT_TRUE(ServesQueryAll());
    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
}

TEST_F(NpaInterpreterLife, EveryCommandIsServedOnceInitialised) {
    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    CommandManager* manager = NpaInterpreter::GetCommandManager();
    for (const NpaRequestCase& c : NpaRequestCases()) {
        Command* command = manager->Create(c.text);
        EXPECT_EQ(Remaining(*command), c.bytes) << c.text;
        manager->Destroy(command);
    }
    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
}

TEST_F(NpaInterpreterLife, ManagersForPacketsFromThePrinter) {
    ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
    Command* fromPacket = NpaInterpreter::GetCommandManager()->CreateFromPacket(HexData("A5 00 05 10 E0 81 00 FF"));
    auto* npa = dynamic_cast<NpaCommand*>(fromPacket);
    ASSERT_NE(npa, nullptr);
    EXPECT_EQ(npa->CommandCode(), 0xE0);
    EXPECT_TRUE(npa->IsProtocolPacket());
    NpaInterpreter::GetCommandManager()->Destroy(fromPacket);

    PacketManager* packets = NpaInterpreter::GetPacketManager();
    Data out;
    int32_t consumed = -1;
    EXPECT_EQ(packets->Unwrap(HexData("A5 00 06 70 E0 81 01 02 03 A5 00 04 50 E0 81 04"), out, consumed), 0u);
    EXPECT_EQ(Remaining(out), Hex("A5 00 08 50 E0 81 01 02 03 81 04"));
    EXPECT_EQ(consumed, 16);
    EXPECT_EQ(packets->Unwrap(HexData("A5 00 06 70"), out, consumed), 234u);
    EXPECT_EQ(packets->Unwrap(HexData("00 01 02 03"), out, consumed), 1629u);

    out.SetStatus(5);
    out.SetCount(7);
    EXPECT_EQ(packets->Reset(out), 0u);
    EXPECT_EQ(out.Size(), 0u);
    EXPECT_EQ(out.Status(), 0);
    EXPECT_EQ(out.Count(), 0);
    ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);
}

// Runs body on several threads released at once; every wait is bounded.
template <typename Body>
void RunTogether(int threads, Body body) {
    std::promise<void> start;
    std::shared_future<void> go = start.get_future().share();
    std::vector<std::thread> pool;
    std::atomic<int> late{0};
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&, i] {
            if (go.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
                ++late;
                return;
            }
            body(i);
        });
    }
    start.set_value();
    for (std::thread& t : pool) {
        t.join();
    }
    EXPECT_EQ(late.load(), 0);
}

TEST_F(NpaInterpreterLife, ConcurrentFirstCallsShareOneOfEach) {
    constexpr int kThreads = 8;
    for (int round = 0; round < 20; ++round) {
        // After the last uninitialisation nothing exists: the next calls are first calls again.
        ASSERT_EQ(NpaInterpreter::Initialize(), 0u);
        ASSERT_EQ(NpaInterpreter::Uninitialize(), 0u);

        std::vector<CommandManager*> commands(kThreads);
        std::vector<PacketManager*> packets(kThreads);
        std::vector<uint32_t> results(kThreads, 99);
        RunTogether(kThreads, [&](int i) {
            commands[i] = NpaInterpreter::GetCommandManager();
            packets[i] = NpaInterpreter::GetPacketManager();
            results[i] = NpaInterpreter::Initialize();
        });
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_EQ(commands[i], commands[0]);
            EXPECT_EQ(packets[i], packets[0]);
            EXPECT_EQ(results[i], 0u);
        }
        EXPECT_EQ(NpaInterpreter::InitializationCount(), kThreads);
        EXPECT_EQ(NpaInterpreter::GetCommandManager(), commands[0]);
        EXPECT_TRUE(ServesQueryAll());

        RunTogether(kThreads, [&](int i) { results[i] = NpaInterpreter::Uninitialize(); });
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_EQ(results[i], 0u);
        }
        EXPECT_EQ(NpaInterpreter::InitializationCount(), 0);
        EXPECT_FALSE(ServesQueryAll());
        if (HasFailure()) {
            break;
        }
    }
}

}  // namespace
