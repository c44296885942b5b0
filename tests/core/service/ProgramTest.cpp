// tolvex.exe itself, copied into a folder of this run with a branding of its own (so its service
// and pipe names are unique), driven through its option words under Wine's service control
// manager, with a client served over the service pipe.
#include "client/TolvexClient.h"
#include "core/ipc/IpcParameter.h"
#include "core/ipc/IpcParameterWriter.h"
#include "core/ipc/PipeIdentity.h"
#include "include/TolvexProtocol.h"
#include "logging/EventLog.h"
#include "runtime/UniqueHandle.h"
#include "tests/core/service/TolvexProgramRig.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using TolvexProgramFiles::readFile;

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("Tp");
        prefix_ = rig_.prefix;
        service_ = rig_.service;
        logPath_ = rig_.logPath;
    }

    void TearDown() override { rig_.tearDown(); }

    DWORD run(const std::string& argument, std::string& output) const { return rig_.run(argument, output); }
    DWORD state() const { return rig_.state(); }
    bool waitRunningAndAccepting() const { return rig_.waitRunningAndAccepting(); }

    TolvexProgramRig rig_;
    std::string prefix_, service_, logPath_;
};

TEST_F(Program, OptionWordsInstallServeAClientAndUninstall) {
    std::string out;
    EXPECT_EQ(0u, run("", out)) << "from a console the dispatcher fails";
    const std::string consoleLog = readFile(logPath_);
    // Wine lets a console process's dispatcher attach to whichever service the control manager
    // is starting at that moment (other tests of this prefix may be starting theirs), so the
    // failure is asserted only when the dispatcher did not run.
    ASSERT_NE(std::string::npos, consoleLog.find("-Service::Run() rc: "));
    if (consoleLog.find("-Service::Run() rc: 0\r\n") == std::string::npos) {
        EXPECT_NE(std::string::npos, consoleLog.find("Failed to start StartServiceCtrlDispatcher"));
        EXPECT_NE(std::string::npos, out.find("usage: tolvex.exe")) << out;
    }
    EXPECT_NE(std::string::npos, consoleLog.find("Commandline: \r\n"));

    ASSERT_EQ(0u, run("-install", out));
    ASSERT_TRUE(waitRunningAndAccepting());
    {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle service(OpenServiceA(manager.get(), service_.c_str(), SERVICE_QUERY_CONFIG));
        alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192] = {};
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigA(service.get(), config, sizeof buffer, &needed));
        EXPECT_EQ(0x110u, config->dwServiceType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
        EXPECT_EQ(prefix_ + " Sorvane", std::string(config->lpDisplayName));
    }
    // The event log finds the entries' texts in the installed program.
    const std::string sourceKey = EventLog::sourceKey(service_);
    char messageFile[MAX_PATH] = {};
    DWORD size = sizeof messageFile, types = 0, typesSize = sizeof types;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, sourceKey.c_str(), "EventMessageFile",
                                          RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, messageFile, &size));
    EXPECT_EQ(rig_.program, std::string(messageFile));
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, sourceKey.c_str(), "TypesSupported", RRF_RT_REG_DWORD,
                                          nullptr, &types, &typesSize));
    EXPECT_EQ(7u, types);

    // A client is served over the service pipe: a client id comes back.
    Data request;
    IpcParameterWriter(request).functionId(2).string(IpcParameter::kDirectionIn, "");
    Data reply;
    EXPECT_EQ(0, TolvexClient::call(TolvexClient::servicePipeName(prefix_), request, reply, 10000));
    EXPECT_GT(reply.Size(), 0u);
    // The service knew who asked from the connection itself: this process's user and id.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const std::string me = PipeIdentity::userOf(token);
    CloseHandle(token);
    ASSERT_EQ(me.rfind("S-1-5-21-", 0), 0u) << me;
    const std::string served = readFile(rig_.serviceLogPath);
    const size_t at = served.find("IpcNamedPipeEndpoint::serve() caller " + me);
    ASSERT_NE(std::string::npos, at) << served.substr(served.size() > 3000 ? served.size() - 3000 : 0);
    const std::string line = served.substr(at, served.find('\r', at) - at);
    const std::string pid = " pid " + std::to_string(GetCurrentProcessId());
    EXPECT_EQ(line.size() - pid.size(), line.rfind(pid)) << line;
    std::printf("[ measured ] %s\n", line.c_str());

    const size_t mark = readFile(logPath_).size();
    EXPECT_EQ(0u, run("-install", out));
    EXPECT_NE(std::string::npos, readFile(logPath_).find("Failed to get service handle", mark));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), state());

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(0u, run("-uninstall", out));
    EXPECT_LT(GetTickCount64() - before, 10000u);
    // Standard output is in text mode: each line feed reaches the file as CR LF.
    EXPECT_EQ("\r\n" + service_ + " is stopped.\r\n" + service_ + " is removed.\r\n", out);
    HKEY gone = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, sourceKey.c_str(), 0, KEY_READ, &gone));
    EXPECT_EQ(0u, run("-uninstall", out));
    EXPECT_EQ("", out);
}

TEST_F(Program, HelpAndUnknownOptionsPrintTheUsageWithTheServiceNameAndTheLog) {
    struct Case {
        const char* argument;
        DWORD exitCode;
    };
    const Case cases[] = {{"-help", 0}, {"--help", 0}, {"/?", 0}, {"-Install", 87}, {"-frobnicate", 87}};
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(c.exitCode, run(c.argument, out)) << c.argument;
        EXPECT_NE(std::string::npos, out.find("-install       install the service \"" + prefix_ + TOLVEX_SERVICE_NAME_SUFFIX +
                                              "\" (shown as \"" + prefix_ + " Sorvane\""))
            << c.argument << "\n" << out;
        EXPECT_NE(std::string::npos, out.find("and start it at once")) << c.argument;
        EXPECT_NE(std::string::npos, out.find("%ALLUSERSPROFILE%\\" + prefix_ + "__BcxComponents.log")) << c.argument;
        EXPECT_NE(std::string::npos, out.find("startLog under HKEY_LOCAL_MACHINE\\Software\\" + prefix_)) << c.argument;
    }
    EXPECT_EQ(0u, state()) << "nothing was installed";
}

}  // namespace

namespace {

// A branding whose prefix and short name differ: the prefix names the service, its pipe and its
// log file, the short name its display name and the log switch. The option word without its
// dash is no option: the program runs as the service (from a console its dispatcher fails) and
// installs nothing.
TEST(ProgramBranding, PrefixNamesTheServiceShortNameItsDisplayAndAnUndashedWordRunsTheService) {
    TolvexProgramRig rig;
    rig.setUp("Tb", true, "Brand");
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_NE(rig.prefix, rig.shortName);
    std::string out;
    EXPECT_EQ(0u, rig.run("install", out));
    EXPECT_EQ(0u, rig.state()) << "installed by an option word without its dash";
    const std::string consoleLog = readFile(rig.logPath);
    EXPECT_NE(std::string::npos, consoleLog.find("Commandline: install\r\n")) << consoleLog;
    EXPECT_NE(std::string::npos, consoleLog.find("+Service::Run()"));

    ASSERT_EQ(0u, rig.run("-install", out));
    ASSERT_TRUE(rig.waitRunningAndAccepting());
    const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(OpenServiceA(manager.get(), (rig.prefix + "__tolvex").c_str(), SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192] = {};
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, sizeof buffer, &needed));
    EXPECT_EQ(rig.shortName + " Sorvane", std::string(config->lpDisplayName));
    EXPECT_EQ("\"" + rig.program + "\"", std::string(config->lpBinaryPathName));

    Data request;
    IpcParameterWriter(request).functionId(2).string(IpcParameter::kDirectionIn, "");
    Data reply;
    EXPECT_EQ(0, TolvexClient::call(TolvexClient::servicePipeName(rig.prefix), request, reply, 10000));
    rig.tearDown();
}

}  // namespace
