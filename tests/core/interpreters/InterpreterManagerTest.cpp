// Loading the NPA plug-in under Wine. The test brands itself (prefix "Qt") with its program
// folder in a temporary directory, where each case puts copies of Qv__ovra.dll (built beside
// the test programs) under the names it needs.
#include "config/Localize.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "core/interpreters/InterpreterManager.h"
#include "export/common/PropertyAccessor.h"
#include "logging/LogFacade.h"
#include "tests/config/TestBranding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string testFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, n);
    return full.substr(0, full.rfind('\\') + 1);
}

const uint8_t kAcknowledge[] = {0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00, 0x00};

class InterpreterManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        branding_.writeConfig(branding_.configXml());
        Localize::createInstance(nullptr, branding_.modulePath());
        ASSERT_EQ(Localize::getInstance().getManufacturerPrefix(), "Qt");
        shortName_ = TestBranding::uniqueName("TolvexLoadLog");
        LogFacade::getInstance().setPrefix(TestBranding::uniqueName("Ql"));
        LogFacade::getInstance().setShortName(shortName_);
        RegistryKey64 key("Software\\" + shortName_ + "\\BcxComponents\\", true, HKEY_LOCAL_MACHINE,
                          kRegistryWriteAccess);
        key.setValue("startLog", 1u);
    }
    void TearDown() override {
        for (const std::string& file : placed_) {
            EXPECT_EQ(GetModuleHandleA(file.c_str()), nullptr) << file << " is still loaded";
            DeleteFileA(file.c_str());
        }
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) RemoveDirectoryA(folder->c_str());
        Localize::destroyInstance();
        DeleteFileA(LogFacade::getInstance().logPath().c_str());
        recurseDeleteKey("Software\\" + shortName_, HKEY_LOCAL_MACHINE);
    }

    // A copy of the plug-in at the relative path in the program folder.
    std::string place(const std::string& relative) {
        const std::string file = branding_.folder() + relative;
        const std::string::size_type slash = relative.rfind('\\');
        if (slash != std::string::npos) {
            folders_.push_back(branding_.folder() + relative.substr(0, slash));
            CreateDirectoryA(folders_.back().c_str(), nullptr);
        }
        EXPECT_TRUE(CopyFileA((testFolder() + "Qv__ovra.dll").c_str(), file.c_str(), FALSE)) << file;
        placed_.push_back(file);
        return file;
    }

    static void configure(const std::string& protocol, const std::string& library) {
        Settings settings;
        ASSERT_TRUE(settings.setString("Interpreters", protocol, library, 0));
    }
    // The same for a running manager, returning once it has been told of the change.
    static void configure(InterpreterManager& manager, const std::string& protocol, const std::string& library) {
        const uint64_t before = manager.configurationStamp();
        configure(protocol, library);
        ASSERT_TRUE(manager.waitForConfigurationChange(before, 5000));
    }

    static std::string interpreter(const std::string& name, const std::string& prefix = std::string()) {
        std::string text;
        PropertyAccessor().SetString(text, PropertyAccessor::Interpreter, name);
        if (!prefix.empty()) PropertyAccessor().SetString(text, PropertyAccessor::Prefix, prefix);
        return text;
    }

    static PacketManager* exportedPacketManager(InterpreterDll& dll) {
        return reinterpret_cast<PacketManager* (*)()>(reinterpret_cast<void*>(dll.getProcAddress("GetPacketManager")))();
    }

    static std::string logText() {
        std::ifstream file(LogFacade::getInstance().logPath(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TestBranding branding_;
    std::string shortName_;
    std::vector<std::string> placed_;
    std::vector<std::string> folders_;
};

TEST_F(InterpreterManagerTest, LoadsTheNpaPlugInByTheDefaultRule) {
    const std::string file = place("Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Qt__"));
    // Without a Prefix and not loaded at start-up, Objectstore and Esc stay absent.
    EXPECT_EQ(manager.loadInterpreter(interpreter("Objectstore")), nullptr);
    EXPECT_EQ(manager.loadInterpreter(interpreter("Esc")), nullptr);

    InterpreterDll* npa = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(npa, nullptr) << "loaded at start-up, found without a Prefix";
    EXPECT_EQ(npa->fileName(), file);
    EXPECT_EQ(GetModuleHandleA(file.c_str()), npa->module());
    EXPECT_EQ(BasicDllModules::holders(npa->module()), 1u);
    // A second request returns the same library without loading again.
    EXPECT_EQ(manager.loadInterpreter(interpreter("Npa", "Zz__")), npa);
    EXPECT_EQ(BasicDllModules::holders(npa->module()), 1u);
}

TEST_F(InterpreterManagerTest, ASettingsValueNamesTheLibrary) {
    const std::string file = place("Custom Npa.dll");
    configure("Npa", "Custom Npa");
    InterpreterManager manager(interpreter("", "Zz__"));
    InterpreterDll* npa = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(npa, nullptr);
    EXPECT_EQ(npa->fileName(), file);
}

TEST_F(InterpreterManagerTest, ProtocolNamesFindTheirLibraryWithoutCaseButAreKeptAsGiven) {
    const std::string file = place("Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Qt__"));
    InterpreterDll* upper = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(upper, nullptr);

    InterpreterDll* lower = manager.loadInterpreter(interpreter("npa", "Qt__"));
    ASSERT_NE(lower, nullptr);
    EXPECT_NE(lower, upper) << "stored under its own name";
    EXPECT_EQ(lower->fileName(), file);
    EXPECT_EQ(lower->module(), upper->module());
    EXPECT_EQ(BasicDllModules::holders(lower->module()), 2u);
    // Found again under "npa" without a Prefix.
    EXPECT_EQ(manager.loadInterpreter(interpreter("npa")), lower);
    // "NPA" was never loaded and has no Prefix to be loaded with.
    EXPECT_EQ(manager.loadInterpreter(interpreter("NPA")), nullptr);
}

TEST_F(InterpreterManagerTest, TheLastHolderUninitialisesAndFrees) {
    const std::string file = place("Qt__ovra.dll");
    std::unique_ptr<InterpreterDll> first(new InterpreterDll(file));
    std::unique_ptr<InterpreterDll> second(new InterpreterDll(branding_.folder() + "QT__OVRA.DLL"));
    ASSERT_EQ(first->module(), second->module());
    EXPECT_EQ(BasicDllModules::holders(first->module()), 2u);

    first.reset();
    // Still initialised: its managers still work.
    CommandManager* commands =
        reinterpret_cast<CommandManager* (*)()>(reinterpret_cast<void*>(second->getProcAddress("GetCommandManager")))();
    ASSERT_NE(commands, nullptr);
    Command* command = commands->CreateFromPacket(Data(kAcknowledge, sizeof kAcknowledge));
    ASSERT_NE(command, nullptr);
    EXPECT_TRUE(command->IsProtocolPacket());
    commands->Destroy(command);

    second.reset();
    EXPECT_EQ(GetModuleHandleA(file.c_str()), nullptr);

    // Loading again initialises afresh.
    InterpreterDll again(file);
    EXPECT_NE(exportedPacketManager(again), nullptr);
}

TEST_F(InterpreterManagerTest, LibraryNamesWithAPathAreRefusedAndLogged) {
    place("Qt__ovra.dll");
    place("sub\\Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Zz__"));
    for (const char* library : {"sub\\Qt__ovra", "sub/Qt__ovra", "..\\Qt__ovra", "C:Qt__ovra"}) {
        configure(manager, "Npa", library);
        EXPECT_EQ(manager.loadInterpreter(interpreter("Npa")), nullptr) << library;
        EXPECT_NE(logText().find("InterpreterManager::loadInterpreter() refused library name=" + std::string(library)),
                  std::string::npos)
            << library;
    }
    configure(manager, "Npa", branding_.folder() + "Qt__ovra");
    EXPECT_EQ(manager.loadInterpreter(interpreter("Npa")), nullptr);
    // A Prefix from a property text is held to the same rule.
    EXPECT_EQ(manager.loadInterpreter(interpreter("Objectstore", "sub\\Qt__")), nullptr);
    // The plain name is still welcome.
    configure(manager, "Npa", "Qt__ovra");
    EXPECT_NE(manager.loadInterpreter(interpreter("Npa")), nullptr);
}

TEST_F(InterpreterManagerTest, PacketManagerByTheFirstBytes) {
    place("Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Qt__"));
    InterpreterDll* npa = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(npa, nullptr);

    EXPECT_EQ(manager.getPacketManager(Data(kAcknowledge, sizeof kAcknowledge)), exportedPacketManager(*npa));
    const uint8_t other[] = {0x1B, 0x45, 0x00};
    EXPECT_EQ(manager.getPacketManager(Data(other, sizeof other)), manager.nullPacketManager());
    EXPECT_EQ(manager.getPacketManager(Data()), manager.nullPacketManager());

    // Only the configured interpreters are asked.
    configure(manager, "Esc", "Qt__ekta");
    EXPECT_EQ(manager.getPacketManager(Data(kAcknowledge, sizeof kAcknowledge)), manager.nullPacketManager());
}

TEST_F(InterpreterManagerTest, CommandManagerByInterpreterOrByTheCommand) {
    place("Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Qt__"));
    InterpreterDll* npa = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(npa, nullptr);
    CommandManager* npaCommands =
        reinterpret_cast<CommandManager* (*)()>(reinterpret_cast<void*>(npa->getProcAddress("GetCommandManager")))();

    EXPECT_EQ(manager.getCommandManager(interpreter("Npa")), npaCommands);
    EXPECT_EQ(manager.getCommandManager(interpreter("Esc")), manager.nullCommandManager());
    EXPECT_EQ(manager.getCommandManager("<CommandName>queryAll</CommandName>"), npaCommands);
    EXPECT_EQ(manager.getCommandManager("<CommandName>noSuchCommand</CommandName>"), manager.nullCommandManager());
}

// The configuration is read once and again after a change: a library that failed to load is not
// tried again at every packet, and an interpreter configured later serves the next packet.
TEST_F(InterpreterManagerTest, AFailedLibraryIsTriedAgainOnceTheConfigurationChanges) {
    InterpreterManager manager(interpreter("", "Qt__"));
    const Data acknowledge(kAcknowledge, sizeof kAcknowledge);
    EXPECT_EQ(manager.loadInterpreter(interpreter("Npa", "Qt__")), nullptr);
    EXPECT_EQ(manager.getPacketManager(acknowledge), manager.nullPacketManager());
    place("Qt__ovra.dll");
    EXPECT_EQ(manager.loadInterpreter(interpreter("Npa", "Qt__")), nullptr) << "tried again without a change";
    EXPECT_EQ(manager.getPacketManager(acknowledge), manager.nullPacketManager());

    configure(manager, "Npa", "Qt__ovra");
    InterpreterDll* npa = manager.loadInterpreter(interpreter("Npa"));
    ASSERT_NE(npa, nullptr);
    EXPECT_EQ(manager.getPacketManager(acknowledge), exportedPacketManager(*npa));
}

TEST_F(InterpreterManagerTest, ThreadsExtendingTheMapAtOnceShareOneLibraryPerName) {
    place("Qt__ovra.dll");
    InterpreterManager manager(interpreter("", "Qt__"));
    PacketManager* npaPackets = manager.getPacketManager(Data(kAcknowledge, sizeof kAcknowledge));
    ASSERT_NE(npaPackets, manager.nullPacketManager());
    std::vector<InterpreterDll*> seen(4, nullptr);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                InterpreterDll* dll = manager.loadInterpreter(interpreter(i % 2 == 0 ? "npa" : "nPa", "Qt__"));
                if (i == 0) seen[t] = dll;
                if (i % 2 == 0 && dll != seen[t]) ++mismatches;
                if (manager.getPacketManager(Data(kAcknowledge, sizeof kAcknowledge)) != npaPackets) ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    ASSERT_NE(seen[0], nullptr);
    for (InterpreterDll* dll : seen) EXPECT_EQ(dll, seen[0]);
    // "Npa" from start-up, "npa" and "nPa": three holders of one module.
    EXPECT_EQ(BasicDllModules::holders(seen[0]->module()), 3u);
}

TEST_F(InterpreterManagerTest, TheProcessWideManagerReleasesItsLibraries) {
    const std::string file = place("Qt__ovra.dll");
    EXPECT_THROW(InterpreterManager::getInstance(), Exception);
    InterpreterManager::createInstance(interpreter("", "Qt__"));
    ASSERT_TRUE(InterpreterManager::exists());
    EXPECT_NE(GetModuleHandleA(file.c_str()), nullptr);
    EXPECT_NE(InterpreterManager::getInstance().loadInterpreter(interpreter("Npa")), nullptr);
    InterpreterManager::destroyInstance();
    EXPECT_FALSE(InterpreterManager::exists());
    EXPECT_EQ(GetModuleHandleA(file.c_str()), nullptr);
}

}  // namespace
