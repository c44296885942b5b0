// Sessions the way the service builds them, under Wine: the simulated printer declared beside the
// (test-branded) program, found by USB enumeration, its USB port with the read thread, and the
// NPA plug-in loaded by the interpreter manager. Every wait is bounded.
#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/sessions/LingeringPorts.h"
#include "core/sessions/PrinterOperations.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/BcxServiceUsbPort.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "tests/config/TestBranding.h"
#include "tests/core/sessions/SessionTestSupport.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/core/usb/port/NpaCommandBytes.h"
#include "tests/core/usb/port/StuckObserver.h"
#include "tests/support/ChildProcess.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr DWORD kWaitMs = 5000;
constexpr uint32_t kHandle = 0x2001;

class UsbSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("QsSim");
        if (HasFatalFailure()) return;
        callbacks_.setSink(&sink_);
    }
    void TearDown() override {
        table_.destroyAll();
        callbacks_.setSink(nullptr);
        rig_.tearDown();
    }

    Bytes request(const char* name) { return npaCommandBytes(lookup_, name); }
    BcxServiceUsbPort* usbPort() {
        std::shared_ptr<Printer> printer = table_.find(kHandle);
        return printer == nullptr ? nullptr : dynamic_cast<BcxServiceUsbPort*>(printer->port());
    }
    // Opens USB001 with its read loop held inside held's first delivery; a stop gives up on the
    // loop after stopWaitMs. Null when that cannot be set up.
    BcxServiceUsbPort* openWithReadLoopHeld(StuckObserver& held, DWORD stopWaitMs) {
        if (operations_.openPrinterEx("USB001", kHandle) != 0) return nullptr;
        BcxServiceUsbPort* port = usbPort();
        if (port == nullptr) return nullptr;
        port->setStopWait(stopWaitMs);
        port->attach(&held);
        if (port->connect() != 0 || !simulator_->sendAlert() || !held.entered.wait(kWaitMs)) return nullptr;
        return port;
    }

    SimulatedPrinterRig rig_;
    std::unique_ptr<NpaPrinterSimulator>& simulator_ = rig_.simulator;
    const std::string& devicePath_ = rig_.devicePath;
    InterpreterManagerLookup lookup_;
    UsbPortFactory factory_{lookup_};
    AlertCallbackRegistry callbacks_;
    RecordingAlertSink sink_;
    SessionServices services_{lookup_, callbacks_, &factory_, nullptr};
    PrinterTable table_;
    PrinterOperations operations_{services_, table_};
};

}  // namespace

TEST_F(UsbSessionTest, OpensTheSimulatedPrinterAndExchangesAPacket) {
    uint32_t handle = 0;
    ASSERT_EQ(PrinterOperations::enumSpecificPrinter("usb001", &handle), 0u);
    ASSERT_EQ(handle, kHandle);
    ASSERT_EQ(operations_.openPrinterEx("USB001", handle), 0u);
    ASSERT_NE(usbPort(), nullptr);
    const Bytes query = request("queryAll");
    ASSERT_GT(query.size(), 4u);
    Bytes reply(1024, 0);
    uint32_t length = 0;
    ASSERT_EQ(operations_.exchangePacket(handle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                         1024, &length),
              0u);
    NpaPrinterEngine fresh;
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + length), fresh.defaultReply(NpaRequestKind::QueryAll, query));
    EXPECT_EQ(simulator_->countOf(NpaRequestKind::StartNpaMode), 1u);
    EXPECT_FALSE(usbPort()->isReading());  // the exchange gave its use back
    EXPECT_EQ(operations_.closePrinter(handle), 0u);
    EXPECT_EQ(table_.size(), 0u);
    EXPECT_EQ(operations_.openPrinterEx("USB002", 0x2002), 1u);  // nothing declared there
}

TEST_F(UsbSessionTest, ASessionIsBuiltWhenTheDeviceListCannotBeButNotWhenThePortIsAbsent) {
    struct Case {
        uint32_t found;  // what enumeration reports
        uint32_t open;
    };
    for (const Case& c : {Case{6, 0}, Case{1, 1}}) {
        SCOPED_TRACE(c.found);
        UsbPortFactory factory(lookup_, [&c](std::string&) { return c.found; });
        SessionServices services{lookup_, callbacks_, &factory, nullptr};
        PrinterTable table;
        PrinterOperations operations{services, table};
        ASSERT_EQ(operations.openPrinterEx("USB001", kHandle), c.open);
        if (c.open != 0) continue;
        // Without a device path the port reaches no printer, and says so at once.
        const Bytes query = request("queryAll");
        Bytes reply(64, 0);
        uint32_t length = 0;
        const ULONGLONG start = GetTickCount64();
        EXPECT_NE(operations.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                            64, &length),
                  0u);
        EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(kWaitMs));
        EXPECT_EQ(simulator_->countOf(NpaRequestKind::QueryAll), 0u);
        EXPECT_EQ(operations.closePrinter(kHandle), 0u);
    }
}

TEST_F(UsbSessionTest, RegisteredClientsGetThePrintersAlertsWhileTheReadThreadRuns) {
    ASSERT_EQ(operations_.openPrinterEx("USB001", kHandle), 0u);
    callbacks_.add(4, CallbackRecord{4, "<PIPENAME>four</PIPENAME>"});
    callbacks_.add(2, CallbackRecord{2, "<PIPENAME>two</PIPENAME>"});
    ASSERT_EQ(operations_.registerForAlerts(AlertRegistration{0x1, 4, kHandle}), 0u);
    ASSERT_EQ(operations_.registerForAlerts(AlertRegistration{0x1, 2, kHandle}), 0u);
    EXPECT_TRUE(simulator_->isRegistered());
    EXPECT_TRUE(usbPort()->isReading());
    ASSERT_TRUE(simulator_->sendAlert());
    ASSERT_TRUE(sink_.waitFor(2, kWaitMs));
    const std::vector<Callback> calls = sink_.callsByClient();
    EXPECT_EQ(calls[0].clientId, 2u);
    EXPECT_EQ(calls[1].clientId, 4u);
    EXPECT_EQ(calls[0].bytes, calls[1].bytes);
    EXPECT_EQ(operations_.unregisterForAlerts(kHandle, 2), 0u);
    EXPECT_EQ(operations_.unregisterForAlerts(kHandle, 4), 0u);
    EXPECT_TRUE(simulator_->waitForRegistered(false, kWaitMs));
    EXPECT_FALSE(usbPort()->isReading());
    simulator_->setDefaultBehaviour(NpaReplyBehaviour{false, 0, 0, 0, 0, 0, false, true, false});
    EXPECT_EQ(operations_.registerForAlerts(AlertRegistration{0x1, 2, kHandle}), 22u);
    EXPECT_FALSE(usbPort()->isReading());  // the refused registration holds no port use
}

TEST_F(UsbSessionTest, UnpluggedWhileWaitingGives1460ThenRefusalsUntilTheAttachHook) {
    ASSERT_EQ(operations_.openPrinterEx("USB001", kHandle), 0u);
    simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    ASSERT_EQ(operations_.setTimeout(kHandle, 1500), 0u);
    const Bytes query = request("queryAll");
    auto waiting = std::async(std::launch::async, [&] {
        Bytes reply(1024, 0);
        uint32_t length = 0;
        return operations_.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                          1024, &length);
    });
    ASSERT_TRUE(simulator_->waitForRequests(NpaRequestKind::QueryAll, 1, kWaitMs));
    ASSERT_TRUE(simulator_->unplug());
    std::string path = devicePath_;
    std::shared_ptr<Printer> printer = table_.findByDevicePath(path);
    ASSERT_NE(printer, nullptr);
    printer->port()->onDeviceDetach();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 1460u);

    Bytes reply(1024, 0);
    uint32_t length = 0;
    EXPECT_EQ(operations_.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                         1024, &length),
              50u);
    ASSERT_TRUE(simulator_->replug());
    simulator_->clearBehaviours();
    printer->port()->onDeviceAttach();
    EXPECT_EQ(operations_.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                         1024, &length),
              0u);
    EXPECT_GT(length, 0u);
}

// A session whose read thread does not end when asked: its close waits the port's bound and no
// more, holds up no other printer meanwhile, and the port stays alive, kept aside, until the
// thread has ended by itself.
TEST_F(UsbSessionTest, APrinterWhoseReadThreadDoesNotEndHoldsUpNoOtherAndItsPortWaitsForTheThread) {
    StuckObserver stuck;
    ASSERT_NE(openWithReadLoopHeld(stuck, 1500), nullptr);

    auto closing = std::async(std::launch::async, [&] { return operations_.closePrinter(kHandle); });
    ASSERT_NE(closing.wait_for(std::chrono::milliseconds(100)), std::future_status::ready);
    // Another printer's open and close meanwhile.
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(operations_.openPrinter(0x1234), 0u);
    EXPECT_EQ(operations_.closePrinter(0x1234), 0u);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_NE(closing.wait_for(std::chrono::milliseconds(0)), std::future_status::ready);

    ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(closing.get(), 0u);
    EXPECT_EQ(table_.size(), 0u);
    EXPECT_EQ(LingeringPorts::instance().size(), 1u);
    EXPECT_FALSE(LingeringPorts::instance().drain(50));
    EXPECT_FALSE(stuck.wentOn.load());
    stuck.release.set();
    EXPECT_TRUE(LingeringPorts::instance().drain(kWaitMs));
    EXPECT_EQ(LingeringPorts::instance().size(), 0u);
    EXPECT_TRUE(stuck.wentOn.load());
}

// The printer of a session whose read loop was left running is not opened again (a second loop
// on the same device would read beside the first) until that loop has ended: the open answers
// busy and touches nothing; afterwards it works as ever.
TEST_F(UsbSessionTest, APrinterIsNotOpenedAgainWhileTheReadLoopOfItsClosedSessionRuns) {
    StuckObserver stuck;
    ASSERT_NE(openWithReadLoopHeld(stuck, 200), nullptr);
    ASSERT_EQ(operations_.closePrinter(kHandle), 0u);
    ASSERT_EQ(LingeringPorts::instance().size(), 1u);

    const size_t readConnections = simulator_->hostReadConnections();
    const Bytes query = request("queryAll");
    Bytes reply(1024, 0);
    uint32_t length = 0;
    EXPECT_EQ(operations_.openPrinterEx("USB001", kHandle), static_cast<uint32_t>(ERROR_BUSY));
    EXPECT_EQ(operations_.openPrinter(kHandle), static_cast<uint32_t>(ERROR_BUSY));
    EXPECT_EQ(operations_.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                         1024, &length),
              PrinterOperations::kNoSuchHandle);
    EXPECT_EQ(simulator_->hostReadConnections(), readConnections) << "a second read loop on the printer";
    EXPECT_EQ(table_.size(), 0u);

    stuck.release.set();
    ASSERT_TRUE(LingeringPorts::instance().drain(kWaitMs));
    ASSERT_EQ(operations_.openPrinterEx("USB001", kHandle), 0u);
    EXPECT_EQ(operations_.exchangePacket(kHandle, query.data(), static_cast<uint32_t>(query.size()), reply.data(),
                                         1024, &length),
              0u);
    EXPECT_GT(length, 0u);
    EXPECT_EQ(operations_.closePrinter(kHandle), 0u);
}

// Run as a child by the test below: leaves the process with a port kept for a read loop that
// is still running when main returns.
TEST_F(UsbSessionTest, DISABLED_LeavesAReadLoopRunningAtTheEndOfTheProcess) {
    // Outlives the test, holding the loop far longer than any test waits: until the process ends.
    StuckObserver* held = new StuckObserver(60000);
    ASSERT_NE(openWithReadLoopHeld(*held, 200), nullptr);
    ASSERT_EQ(operations_.closePrinter(kHandle), 0u);
    ASSERT_EQ(LingeringPorts::instance().size(), 1u);
}

// A read loop left to end on its own must not keep the process (the service at its stop) from
// ending: the system ends such threads with the process.
TEST(UsbSessionExitTest, AProcessWithAReadLoopStillRunningEnds) {
    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const ChildResult child =
        runChild(self,
                 "--gtest_also_run_disabled_tests "
                 "--gtest_filter=UsbSessionTest.DISABLED_LeavesAReadLoopRunningAtTheEndOfTheProcess",
                 20000);
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
    EXPECT_TRUE(child.finished) << "the process did not end within 20 s of its test";
    EXPECT_EQ(child.exitCode, 0u) << child.output;
}
