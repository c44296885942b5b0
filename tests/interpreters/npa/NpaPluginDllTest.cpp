// The built Qv__ovra.dll as its hosts see it: loaded by file name, reached through its four
// exports and the shared virtual interfaces only, then uninitialised and unloaded.
#include "export/common/CommandManager.h"
#include "export/common/PacketManager.h"
#include "runtime/Win32.h"

#include "NpaRequestCases.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <list>
#include <set>
#include <thread>

namespace {

const char* const kLibrary = "Qv__ovra.dll";

using GetCommandManagerFn = CommandManager* (*)();
using GetPacketManagerFn = PacketManager* (*)();
using InterpreterFn = uint32_t (*)();

// One load of the library; unloads it when it goes.
class Plugin {
public:
    Plugin() : module_(LoadLibraryA(kLibrary)) {
        if (module_ == nullptr) {
            return;
        }
        getCommandManager = reinterpret_cast<GetCommandManagerFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "GetCommandManager")));
        getPacketManager = reinterpret_cast<GetPacketManagerFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "GetPacketManager")));
        initialize = reinterpret_cast<InterpreterFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "InterpreterInitialize")));
        uninitialize = reinterpret_cast<InterpreterFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "InterpreterUninitialize")));
    }
    ~Plugin() { Unload(); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool Complete() const {
        return module_ != nullptr && getCommandManager != nullptr && getPacketManager != nullptr &&
               initialize != nullptr && uninitialize != nullptr;
    }
    bool Unload() {
        const bool freed = module_ == nullptr || FreeLibrary(module_) != 0;
        module_ = nullptr;
        return freed;
    }

    GetCommandManagerFn getCommandManager = nullptr;
    GetPacketManagerFn getPacketManager = nullptr;
    InterpreterFn initialize = nullptr;
    InterpreterFn uninitialize = nullptr;

private:
    HMODULE module_;
};

// Whether manager serves "queryAll" rather than answering with an empty NullCommand.
bool ServesQueryAll(CommandManager* manager) {
    Command* command = manager->Create(Named("queryAll"));
    const bool served = command->Name() == "queryAll" && command->Size() == 8 && command->IsProtocolPacket();
    manager->Destroy(command);
    return served;
}

TEST(NpaPluginDll, ExportsCreateEveryCommandByName) {
    {
        Plugin plugin;
        ASSERT_TRUE(plugin.Complete()) << "LoadLibrary/GetProcAddress failed: " << GetLastError();
        EXPECT_EQ(GetProcAddress(GetModuleHandleA(kLibrary), "DllMain"), nullptr) << "only the four are exported";

        ASSERT_EQ(plugin.initialize(), 0u);
        CommandManager* manager = plugin.getCommandManager();
        PacketManager* packets = plugin.getPacketManager();
        ASSERT_NE(manager, nullptr);
        ASSERT_NE(packets, nullptr);

        std::set<std::string> served;
        for (const NpaRequestCase& c : NpaRequestCases()) {
            Command* command = manager->Create(c.text);
            EXPECT_EQ(Remaining(*command), c.bytes) << c.text;
            EXPECT_EQ(command->Name(), c.name) << c.text;
            served.insert(command->Name());
            manager->Destroy(command);
        }
        EXPECT_EQ(served.size(), 20u);

        // A reply decoded inside the plug-in, read here through the shared layout.
        Command* job = manager->Create(Named("startJob"));
        const Data reply = HexData("A5 00 06 10 05 00 00 01 02");
        EXPECT_TRUE(job->IsReplyTo(reply));
        EXPECT_EQ(job->DecodeReply(reply), 0u);
        EXPECT_EQ(job->ResultText(), "<JobId>258</JobId>");
        manager->Destroy(job);

        std::list<Command*> alerts;
        EXPECT_EQ(manager->CreateAlertCommands("<NewAlertMask>1049600</NewAlertMask>", alerts), 0u);
        ASSERT_EQ(alerts.size(), 2u);
        EXPECT_EQ(Remaining(*alerts.front()), Hex("A5 00 06 50 E0 73 01 01 10"));
        EXPECT_EQ(Remaining(*alerts.back()), Hex("A5 00 04 50 E0 03 01"));
        manager->DestroyList(alerts);

        Data out;
        int32_t consumed = 0;
        EXPECT_EQ(packets->Unwrap(HexData("A5 00 06 70 E0 81 01 02 03 A5 00 04 50 E0 81 04 A5"), out, consumed), 0u);
        EXPECT_EQ(Remaining(out), Hex("A5 00 08 50 E0 81 01 02 03 81 04"));
        EXPECT_EQ(consumed, 16);
        EXPECT_EQ(packets->Reset(out), 0u);
        EXPECT_EQ(out.Size(), 0u);

        EXPECT_EQ(plugin.uninitialize(), 0u);
        EXPECT_TRUE(plugin.Unload());
    }
    EXPECT_EQ(GetModuleHandleA(kLibrary), nullptr) << "the library stayed loaded";
}

TEST(NpaPluginDll, InitialisationIsCounted) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Complete()) << GetLastError();
    EXPECT_FALSE(ServesQueryAll(plugin.getCommandManager())) << "before initialisation";

    ASSERT_EQ(plugin.initialize(), 0u);
    ASSERT_EQ(plugin.initialize(), 0u);
    CommandManager* manager = plugin.getCommandManager();
    ASSERT_EQ(plugin.uninitialize(), 0u);
    EXPECT_EQ(plugin.getCommandManager(), manager);
    EXPECT_TRUE(ServesQueryAll(manager)) << "twice in, once out: still working";

    ASSERT_EQ(plugin.uninitialize(), 0u);
    EXPECT_FALSE(ServesQueryAll(plugin.getCommandManager())) << "after the second out";
    EXPECT_EQ(plugin.uninitialize(), 1u) << "one out too many";

    ASSERT_EQ(plugin.initialize(), 0u);
    EXPECT_TRUE(ServesQueryAll(plugin.getCommandManager())) << "initialised again";
    ASSERT_EQ(plugin.uninitialize(), 0u);

    // Alert commands asked for before initialisation are refused, not made of NullCommands.
    std::list<Command*> alerts;
    EXPECT_EQ(plugin.getCommandManager()->CreateAlertCommands("<NewAlertMask>1</NewAlertMask>", alerts), 1u);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(plugin.Unload());
}

TEST(NpaPluginDll, ConcurrentFirstCallsOfTheExports) {
    constexpr int kThreads = 8;
    for (int round = 0; round < 5; ++round) {
        Plugin plugin;  // freshly loaded: nothing exists yet
        ASSERT_TRUE(plugin.Complete()) << GetLastError();
        std::vector<CommandManager*> commands(kThreads);
        std::vector<PacketManager*> packets(kThreads);
        std::vector<uint32_t> results(kThreads, 99);

        std::promise<void> start;
        std::shared_future<void> go = start.get_future().share();
        std::atomic<int> late{0};
        std::vector<std::thread> pool;
        for (int i = 0; i < kThreads; ++i) {
            pool.emplace_back([&, i] {
                if (go.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
                    ++late;
                    return;
                }
                commands[i] = plugin.getCommandManager();
                packets[i] = plugin.getPacketManager();
                results[i] = plugin.initialize();
            });
        }
        start.set_value();
        for (std::thread& t : pool) {
            t.join();
        }
        ASSERT_EQ(late.load(), 0);
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_NE(commands[i], nullptr);
            EXPECT_EQ(commands[i], commands[0]);
            EXPECT_EQ(packets[i], packets[0]);
            EXPECT_EQ(results[i], 0u);
        }
        EXPECT_TRUE(ServesQueryAll(commands[0]));
        for (int i = 0; i < kThreads - 1; ++i) {
            EXPECT_EQ(plugin.uninitialize(), 0u);
        }
        EXPECT_TRUE(ServesQueryAll(plugin.getCommandManager())) << "one user left";
        EXPECT_EQ(plugin.uninitialize(), 0u);
        EXPECT_FALSE(ServesQueryAll(plugin.getCommandManager()));
        EXPECT_TRUE(plugin.Unload());
        if (HasFailure()) {
            break;
        }
    }
}

}  // namespace
