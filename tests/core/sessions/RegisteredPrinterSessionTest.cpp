// Sessions the way the service builds them for printer interfaces registered with SetupAPI in the
// test prefix: the service's own present-only enumeration finds them, the NPA plug-in is loaded,
// the port probes the real spooler. No driver runs these devices under Wine, so the session
// answers as for a printer whose device cannot be opened. Every wait is bounded.
#include "core/sessions/PrinterOperations.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/BcxServiceUsbPort.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "export/common/PropertyText.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/core/usb/port/NpaCommandBytes.h"
#include "tests/support/RegisteredPrinterInterfaces.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr ULONGLONG kWaitMs = 5000;
// The write of a port whose device could not be opened finds no write pipe.
constexpr uint32_t kNoWritePipe = 1;
constexpr uint32_t kDetached = 50;
constexpr uint32_t kNoSuchPort = 1;

class RegisteredPrinterSessionTest : public ::testing::Test {
protected:
    void SetUp() override { rig_.setUp("QgSim"); }
    void TearDown() override {
        table_.destroyAll();
        rig_.tearDown();
        EXPECT_EQ(interfaces_.remove(), 0u);
    }

    uint32_t exchange(uint32_t handle) {
        const Bytes query = npaCommandBytes(lookup_, "queryAll");
        Bytes reply(1024, 0);
        uint32_t length = 0;
        const ULONGLONG start = GetTickCount64();
        const uint32_t rc = operations_.exchangePacket(handle, query.data(), static_cast<uint32_t>(query.size()),
                                                       reply.data(), 1024, &length);
        EXPECT_LT(GetTickCount64() - start, kWaitMs);
        return rc;
    }

    RegisteredPrinterInterfaces interfaces_;
    SimulatedPrinterRig rig_;
    InterpreterManagerLookup lookup_;
    UsbPortFactory factory_{lookup_};
    AlertCallbackRegistry callbacks_;
    SessionServices services_{lookup_, callbacks_, &factory_, nullptr};
    PrinterTable table_;
    PrinterOperations operations_{services_, table_};
};

TEST_F(RegisteredPrinterSessionTest, OpensThePrinterBehindThePortAndAnswersAsForOneThatCannotBeOpened) {
    const std::vector<std::string> paths =
        interfaces_.add("S", {PrinterInterface{"", {InterfaceValue::dword("Port Number", 911)}, true}});
    ASSERT_EQ(paths.size(), 1u);
    ASSERT_EQ(interfaces_.add("T", {PrinterInterface{"", {InterfaceValue::dword("Port Number", 912)}, false}}).size(),
              1u);
    EXPECT_EQ(operations_.openPrinterEx("USB912", 0x2000 | 912), kNoSuchPort);  // registered, not plugged in

    uint32_t handle = 0;
    ASSERT_EQ(PrinterOperations::enumSpecificPrinter("usb911", &handle), 0u);
    ASSERT_EQ(operations_.openPrinterEx("usb911", handle), 0u);
    const std::shared_ptr<Printer> printer = table_.find(handle);
    ASSERT_NE(printer, nullptr);
    const std::string& transport = printer->transportString();
    std::string value;
    EXPECT_TRUE(FindElement(transport, "PORTNAME", value) && value == "USB911") << transport;
    EXPECT_TRUE(FindElement(transport, "SERIALNUMBER", value) && value == "TVXRIGS") << transport;
    EXPECT_TRUE(FindElement(transport, "DEVICEPATH", value) && value == paths[0]) << transport;
    EXPECT_TRUE(FindElement(transport, "1284DEVICEIDSTRING", value) && value.empty()) << transport;

    auto* port = dynamic_cast<BcxServiceUsbPort*>(printer->port());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(exchange(handle), kNoWritePipe);
    EXPECT_TRUE(port->npaWrapping());  // no device id: the NPA default stands
    EXPECT_FALSE(port->isReading());

    // A removal broadcast spells the path in its own letter case.
    std::string broadcast = paths[0];
    for (char& c : broadcast) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(broadcast, paths[0]);
    ASSERT_EQ(table_.findByDevicePath(broadcast), printer);
    port->onDeviceDetach();
    EXPECT_EQ(exchange(handle), kDetached);
    port->onDeviceAttach();
    EXPECT_EQ(exchange(handle), kNoWritePipe);
    EXPECT_FALSE(port->isReading());

    EXPECT_EQ(operations_.closePrinter(handle), 0u);
    EXPECT_EQ(table_.size(), 0u);
}

}  // namespace
