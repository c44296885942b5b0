// Power and device broadcasts as the hidden window gets them (its procedure's logic), through the
// service's printer table to a session's USB port, in front of a simulated printer under Wine.
// Every wait is bounded.
#include "core/service/PrinterTableEventSink.h"
#include "core/sessions/PrinterOperations.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/NotifierWindow.h"
#include "core/usb/port/BcxServiceUsbPort.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/core/usb/notifier/DeviceBroadcast.h"
#include "tests/core/usb/port/NpaCommandBytes.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

constexpr DWORD kWaitMs = 5000;
constexpr uint32_t kHandle = 0x2001;

std::string caseSwapped(std::string text) {
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    }
    return text;
}

class DeviceEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("QeSim");
        if (HasFatalFailure()) return;
        ASSERT_EQ(operations_.openPrinterEx("USB001", kHandle), 0u);
        port_ = dynamic_cast<BcxServiceUsbPort*>(table_.find(kHandle)->port());
        ASSERT_NE(port_, nullptr);
        port_->setSettleDelay(0);
        // One use held throughout, as an alert registration holds it.
        ASSERT_EQ(port_->connect(), 0u);
        ASSERT_TRUE(rig_.simulator->waitForHost(kWaitMs));
        query_ = npaCommandBytes(lookup_, "queryAll");
    }
    void TearDown() override {
        table_.destroyAll();
        rig_.tearDown();
    }

    LRESULT deliver(UINT message, WPARAM wParam, const std::vector<unsigned char>& record = {}) {
        LRESULT result = -1;
        const LPARAM lParam = record.empty() ? 0 : reinterpret_cast<LPARAM>(record.data());
        EXPECT_TRUE(NotifierWindow::handleMessage(&sink_, message, wParam, lParam, result));
        return result;
    }
    // One exchange through the session: its code, and how long it took in ms.
    uint32_t exchange(ULONGLONG& ms) {
        std::vector<uint8_t> reply(1024, 0);
        uint32_t length = 0;
        const ULONGLONG start = GetTickCount64();
        const uint32_t rc = operations_.exchangePacket(kHandle, query_.data(), static_cast<uint32_t>(query_.size()),
                                                       reply.data(), 1024, &length);
        ms = GetTickCount64() - start;
        return rc;
    }

    SimulatedPrinterRig rig_;
    InterpreterManagerLookup lookup_;
    UsbPortFactory factory_{lookup_};
    AlertCallbackRegistry callbacks_;
    SessionServices services_{lookup_, callbacks_, &factory_, nullptr};
    PrinterTable table_;
    PrinterOperations operations_{services_, table_};
    PrinterTableEventSink sink_{table_};
    BcxServiceUsbPort* port_ = nullptr;
    std::vector<uint8_t> query_;
};

}  // namespace

TEST_F(DeviceEventsTest, PowerBroadcastsAndTheDockingQueryReachThePortThroughTheTable) {
    // Suspended, then both resume broadcasts: the first starts reading again, the second finds it
    // running and starts nothing.
    EXPECT_EQ(deliver(WM_POWERBROADCAST, PBT_APMSUSPEND), 0);
    EXPECT_FALSE(port_->isReading());
    EXPECT_FALSE(port_->readyEvent().isSignalled());
    const uint64_t connections = rig_.simulator->hostReadConnections();
    EXPECT_EQ(deliver(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), 0);
    EXPECT_EQ(deliver(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC), 0);
    EXPECT_TRUE(port_->isReading());
    EXPECT_TRUE(port_->readyEvent().isSignalled());
    ULONGLONG ms = 0;
    EXPECT_EQ(exchange(ms), 0u);
    // The printer has answered on the pipes of the last start: every open before it is counted.
    EXPECT_EQ(rig_.simulator->hostReadConnections(), connections + 1);

    // A suspend query already stops reading; refusing the suspend starts it again. The use held
    // is kept throughout.
    EXPECT_EQ(deliver(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND), 0);
    EXPECT_FALSE(port_->isReading());
    EXPECT_EQ(port_->openCount(), 1);
    EXPECT_EQ(deliver(WM_POWERBROADCAST, PBT_APMQUERYSUSPENDFAILED), 0);
    EXPECT_TRUE(port_->isReading());
    EXPECT_EQ(exchange(ms), 0u);

    // A docking query is allowed, after every use has been dropped.
    EXPECT_EQ(deliver(WM_DEVICECHANGE, DBT_QUERYCHANGECONFIG), 1);
    EXPECT_FALSE(port_->isReading());
    EXPECT_EQ(port_->openCount(), 0);
    EXPECT_EQ(exchange(ms), 0u);  // a new use connects afresh
    EXPECT_FALSE(port_->isReading());
}

TEST_F(DeviceEventsTest, AnArrivalWhosePathDiffersOnlyInCaseRestartsThatPortReadyToWrite) {
    EXPECT_EQ(deliver(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, interfaceRecord(caseSwapped(rig_.devicePath))), 0);
    EXPECT_FALSE(port_->isReading());
    ULONGLONG ms = 0;
    EXPECT_EQ(exchange(ms), 50u);
    // Another device's arrival changes nothing.
    EXPECT_EQ(deliver(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, interfaceRecord(rig_.devicePath + "X")), 0);
    EXPECT_FALSE(port_->isReading());

    EXPECT_EQ(deliver(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, interfaceRecord(caseSwapped(rig_.devicePath))), 0);
    EXPECT_TRUE(port_->isReading());
    // Writes need not wait out the ready bound (a second) for a later first connect.
    EXPECT_TRUE(port_->readyEvent().isSignalled());
    EXPECT_EQ(exchange(ms), 0u);
    EXPECT_LT(ms, static_cast<ULONGLONG>(BcxServiceUsbPort::kReadyWaitMilliseconds));
}
