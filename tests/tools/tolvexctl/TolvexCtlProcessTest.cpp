// tolvexctl.exe as a child process against the service stack in-process under Wine: the
// controller with the service's mapper on a pipe of the test's own (given with --pipe), the USB
// port on the simulated printer and the NPA plug-in. Every wait is bounded; a child that
// overruns is terminated and the test fails.
#include "client/TolvexClient.h"
#include "config/Localize.h"
#include "core/dispatch/DispatchWiring.h"
#include "core/dispatch/IpcAlertSink.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "export/common/PropertyAccessor.h"
#include "tests/config/TestBranding.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/core/ipc/IpcTestPipes.h"
#include "tools/simulator/NpaPrinterSimulator.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr DWORD kChildMs = 60000;

// The build tree's path of tolvexctl.exe as Windows sees it (Wine maps the host root to Z:).
std::string programPath() {
    std::string path = TOLVEXCTL_EXE;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path[0] == '\\' ? "Z:" + path : path;
}

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;
    std::string output;  // stdout and stderr together
};

// Runs tolvexctl with args; onStarted (if any) runs while the child runs.
ChildResult runTolvexctl(const std::string& args, const std::function<void()>& onStarted = nullptr) {
    ChildResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + programPath() + "\" " + args;
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                        &process);
    // Only the child keeps the write end, so the reader sees the end when the child exits.
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return result;
    }
    std::thread reader([&] {
        char buffer[512];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) result.output.append(buffer, n);
    });
    if (onStarted) onStarted();
    result.finished = WaitForSingleObject(process.hProcess, kChildMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        TerminateProcess(process.hProcess, 1460);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    reader.join();
    // The child's stdout is in text mode: lines end in CR LF.
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

// The n-th alert a fresh simulated printer sends.
Bytes alertNumber(int n) {
    NpaPrinterEngine engine;
    NpaPrinterWrite write;
    for (int i = 0; i < n; ++i) {
        engine.emitAlert(0);
        engine.takeDue(0, write);
    }
    return write.bytes;
}

class TolvexCtlProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("QcSim");
        if (HasFatalFailure()) return;

        pipeName_ = uniquePipeName("ctl");
        IpcControllerConfig config;
        config.pipeName = pipeName_;
        config.timeouts.callbackMs = 2000;
        DispatchWiring::wire(config, operations_, callbacks_);
        config.stopSessions = [this] { table_.destroyAll(); };
        IPCController::configure(config);
        IPCController::ipcStart();
    }
    void TearDown() override {
        IPCController::ipcStop();
        IpcAlertSink::uninstall(callbacks_);
        table_.destroyAll();
        rig_.tearDown();
    }

    SimulatedPrinterRig rig_;
    std::string pipeName_;
    std::unique_ptr<NpaPrinterSimulator>& simulator_ = rig_.simulator;
    InterpreterManagerLookup lookup_;
    UsbPortFactory factory_{lookup_};
    AlertCallbackRegistry callbacks_;
    SessionServices services_{lookup_, callbacks_, &factory_, nullptr};
    PrinterTable table_;
    PrinterOperations operations_{services_, table_};
};

}  // namespace

TEST_F(TolvexCtlProcessTest, ExchangeQueryAllPrintsTheDecodedPropertiesAndLeavesNoSessionOpen) {
    const ChildResult r = runTolvexctl("--pipe " + pipeName_ + " exchange USB001 queryAll");
    ASSERT_TRUE(r.finished) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("Request = a5 00 05 50 e0 81 00 ff"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("HbnResponse = 0"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("NpaResponse = 1"), std::string::npos) << r.output;
    const Bytes query{0xA5, 0x00, 0x05, 0x50, 0xE0, 0x81, 0x00, 0xFF};
    const std::string reply = "Reply = " + CtlMessages::hex(NpaPrinterEngine().defaultReply(NpaRequestKind::QueryAll, query));
    EXPECT_NE(r.output.find(reply + "\n"), std::string::npos) << r.output;
    EXPECT_EQ(simulator_->countOf(NpaRequestKind::QueryAll), 1u);
    // The exchange's own open was closed again: no session stays behind.
    EXPECT_EQ(table_.size(), 0u);
}

TEST_F(TolvexCtlProcessTest, WatchPrintsAnAlertTheSimulatorSendsThenUnregisters) {
    const ChildResult r = runTolvexctl("--pipe " + pipeName_ + " watch USB001 --mask 1 --count 1 --for 30000", [&] {
        if (simulator_->waitForRegistered(true, 30000)) simulator_->sendAlert();
    });
    ASSERT_TRUE(r.finished) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("alert " + std::to_string(alertNumber(1).size()) + " bytes: " + CtlMessages::hex(alertNumber(1)) +
                            " | <Handler>AlertHandler</Handler><Handle>8193</Handle><ClientId>"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("1 alert(s)"), std::string::npos) << r.output;
    EXPECT_TRUE(simulator_->waitForRegistered(false, 5000));
    EXPECT_EQ(table_.size(), 0u);
}

TEST_F(TolvexCtlProcessTest, BadCommandsAndAMissingServiceGiveAMessageAndANonZeroCode) {
    struct Case {
        std::string args;
        DWORD exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"frobnicate", 87, "unknown command 'frobnicate'"},
        {"--pipe " + pipeName_ + " exchange USB001 noSuchCommand", 87, "'noSuchCommand' is not an NPA command"},
        {"--pipe " + uniquePipeName("absent") + " clientid", 2, "cannot reach the service"},
        // No session is open: the service's own code comes back.
        {"--pipe " + pipeName_ + " set-timeout USB001 5000", 6, "no open session"},
    };
    for (const Case& c : cases) {
        const ChildResult r = runTolvexctl(c.args);
        ASSERT_TRUE(r.finished) << c.args;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}
