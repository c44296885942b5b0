// tolvexctl.exe as a child process against the service stack in-process under Wine: the
// controller with the service's mapper on a pipe of the test's own (given with --pipe), the USB
// port on the simulated printer and the NPA plug-in. Every wait is bounded; a child that
// overruns is terminated and the test fails.
#include "tests/core/dispatch/InProcessService.h"
#include "tests/core/ipc/IpcTestPipes.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/support/ChildProcess.h"
#include "tools/simulator/NpaPrinterSimulator.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr DWORD kChildMs = 60000;

// Runs tolvexctl with args; whileRunning (if any) runs while the child runs.
ChildResult runTolvexctl(const std::string& args, const std::function<void()>& whileRunning = nullptr) {
    return runChild(windowsPathOf(TOLVEXCTL_EXE), args, kChildMs, whileRunning);
}

class TolvexCtlProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("QcSim");
        if (HasFatalFailure()) return;

        service_.start("ctl", 2000);
    }
    void TearDown() override {
        service_.stop();
        rig_.tearDown();
    }

    SimulatedPrinterRig rig_;
    std::unique_ptr<NpaPrinterSimulator>& simulator_ = rig_.simulator;
    InProcessService service_;
};

}  // namespace

TEST_F(TolvexCtlProcessTest, ClientIdAndEnumPrintWhatTheServiceAnswers) {
    const ChildResult first = runTolvexctl("--pipe " + service_.pipeName() + " clientid");
    const ChildResult second = runTolvexctl("--pipe " + service_.pipeName() + " clientid");
    ASSERT_TRUE(first.finished && second.finished);
    EXPECT_EQ(first.exitCode, 0u) << first.output;
    unsigned a = 0, b = 0;
    ASSERT_EQ(std::sscanf(first.output.c_str(), "ClientId = %u", &a), 1) << first.output;
    ASSERT_EQ(std::sscanf(second.output.c_str(), "ClientId = %u", &b), 1) << second.output;
    EXPECT_EQ(b, a + 1);  // consecutive ids from the one service

    const ChildResult known = runTolvexctl("--pipe " + service_.pipeName() + " enum usb017");
    ASSERT_TRUE(known.finished);
    EXPECT_EQ(known.exitCode, 0u) << known.output;
    EXPECT_NE(known.output.find("usb017 = 0x2011"), std::string::npos) << known.output;
}

TEST_F(TolvexCtlProcessTest, ExchangeQueryAllPrintsTheDecodedPropertiesAndLeavesNoSessionOpen) {
    const ChildResult r = runTolvexctl("--pipe " + service_.pipeName() + " exchange USB001 queryAll");
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
    EXPECT_EQ(service_.table.size(), 0u);
}

TEST_F(TolvexCtlProcessTest, WatchPrintsAnAlertTheSimulatorSendsThenUnregisters) {
    const ChildResult r = runTolvexctl("--pipe " + service_.pipeName() + " watch USB001 --mask 1 --count 1 --for 30000", [&] {
        if (simulator_->waitForRegistered(true, 30000)) simulator_->sendAlert();
    });
    ASSERT_TRUE(r.finished) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("alert " + std::to_string(simulatedAlertNumber(1).size()) + " bytes: " + CtlMessages::hex(simulatedAlertNumber(1)) +
                            " | <Handler>AlertHandler</Handler><Handle>8193</Handle><ClientId>"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("1 alert(s)"), std::string::npos) << r.output;
    EXPECT_TRUE(simulator_->waitForRegistered(false, 5000));
    EXPECT_EQ(service_.table.size(), 0u);
}

TEST_F(TolvexCtlProcessTest, EachOutcomeHasItsOwnExitCodeAndTheServicesCodeIsPrinted) {
    struct Case {
        std::string args;
        DWORD exitCode;
        const char* message;
    };
    const std::string pipe = "--pipe " + service_.pipeName();
    const Case cases[] = {
        {"help", 0, "Exit codes"},
        {"help watch", 0, "extended-language   bits 21-25"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {pipe + " exchange USB001 noSuchCommand", 2, "'noSuchCommand' is not an NPA command"},
        {"--pipe " + uniquePipeName("absent") + " clientid", 3, "cannot reach the service"},
        // No session is open, or the value is out of range: the service's own codes come back.
        {pipe + " set-timeout USB001 5000", 1, "the service answered 6: no open session"},
        {pipe + " set-timeout USB001 0", 1, "the service answered 87"},
        {pipe + " enum LPT1", 1, "the service answered 1796"},
        {pipe + " exchange USB001 dcSummary", 0, "Manufacturer = Quorvel\nModel = Q100 Series\n"},
        {pipe + " exchange USB001 startNpaMode", 0, "Reply = none: the service answers this request itself"},
    };
    for (const Case& c : cases) {
        const ChildResult r = runTolvexctl(c.args);
        ASSERT_TRUE(r.finished) << c.args;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}
