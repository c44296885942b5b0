// Enumeration under Wine: the system's printer class is empty here, so every printer found is
// one of the simulated printers declared beside the (test-branded) program.
#include "config/Localize.h"
#include "core/usb/SimulatedDeviceSource.h"
#include "core/usb/UsbEnumeration.h"
#include "export/common/PropertyText.h"
#include "tests/config/TestBranding.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const char kDeclarations[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<printers>\r\n"
    "  <printer><PortNumber>0</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\ZERO</InstanceId>"
    "<DevicePath>\\\\.\\pipe\\QtSim\\USB000</DevicePath><DeviceId>MFG:Quorvel;MODEL:Zero;</DeviceId></printer>\r\n"
    "  <printer><PortNumber>7</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\SER123</InstanceId>"
    "<DevicePath>\\\\.\\pipe\\QtSim\\USB007</DevicePath><DeviceId>MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;</DeviceId></printer>\r\n"
    "  <printer><PortNumber>42</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\6&amp;1F2E3D&amp;0&amp;1</InstanceId>"
    "<DevicePath>\\\\.\\pipe\\QtSim\\USB042</DevicePath><DeviceId>MFG:Quorvel;MODEL:Q200;</DeviceId></printer>\r\n"
    "  <printer><PortNumber>123</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\S123</InstanceId>"
    "<DevicePath>\\\\.\\pipe\\QtSim\\USB123</DevicePath><DeviceId></DeviceId></printer>\r\n"
    "</printers>\r\n";

class UsbEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override {
        branding_.writeConfig(branding_.configXml());
        Localize::createInstance(nullptr, branding_.modulePath());
        declarations_ = branding_.folder() + "simulated-printers.xml";
    }
    void TearDown() override {
        DeleteFileA(declarations_.c_str());
        Localize::destroyInstance();
    }

    void declare(const std::string& xml) {
        std::ofstream file(declarations_, std::ios::binary | std::ios::trunc);
        file << xml;
        ASSERT_TRUE(file.good());
    }

    static std::string element(const std::string& text, const char* name) {
        std::string value = "(absent)";
        FindElement(text, name, value);
        return value;
    }

    TestBranding branding_;
    std::string declarations_;
};

TEST_F(UsbEnumerationTest, FindsSimulatedPrintersBesideTheProgram) {
    declare(kDeclarations);
    EXPECT_EQ(SimulatedDeviceSource::defaultFilePath(), declarations_);

    const struct {
        const char* requested;
        const char* name;
        const char* handle;
        const char* serial;
        const char* path;
        const char* deviceId;
    } cases[] = {
        {"USB007", "USB007", "8199", "SER123", "\\\\.\\pipe\\QtSim\\USB007", "MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;"},
        {"usb042", "USB042", "8234", "1", "\\\\.\\pipe\\QtSim\\USB042", "MFG:Quorvel;MODEL:Q200;"},
        {"USB123", "USB123", "8315", "S123", "\\\\.\\pipe\\QtSim\\USB123", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        std::string transport = std::string("<PORTNAME>") + c.requested + "</PORTNAME>";
        ASSERT_EQ(findUsbPrinter(transport), 0u);
        EXPECT_EQ(element(transport, "PORTNAME"), c.name);
        EXPECT_EQ(element(transport, "PORTHANDLE"), c.handle);
        EXPECT_EQ(element(transport, "VID"), "6699");
        EXPECT_EQ(element(transport, "PID"), "3133");
        EXPECT_EQ(element(transport, "SERIALNUMBER"), c.serial);
        EXPECT_EQ(element(transport, "DEVICEPATH"), c.path);
        const std::string reply = element(transport, "1284DEVICEIDSTRING");
        const std::string id = c.deviceId;
        ASSERT_EQ(reply.size(), id.size() + 2);
        EXPECT_EQ(static_cast<uint8_t>(reply[0]) * 256u + static_cast<uint8_t>(reply[1]), id.size() + 2);
        EXPECT_EQ(reply.substr(2), id);
        EXPECT_EQ(get1284Id(c.path), reply);
    }
}

TEST_F(UsbEnumerationTest, PortZeroAndAbsentPortsDoNotMatch) {
    declare(kDeclarations);
    std::string zero = "<PORTNAME>USB000</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(zero), 1u);
    EXPECT_EQ(element(zero, "DEVICEPATH"), "(absent)");
    std::string absent = "<PORTNAME>USB008</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(absent), 1u);
    EXPECT_EQ(element(absent, "DEVICEPATH"), "(absent)");
    // The last interface examined names the port.
    EXPECT_EQ(element(absent, "PORTNAME"), "USB123");
}

TEST_F(UsbEnumerationTest, WithoutDeclarationsTheListIsTheSystemsOnly) {
    std::string transport = "<PORTNAME>USB007</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(transport), 1u);
    EXPECT_EQ(transport, "<PORTNAME>USB007</PORTNAME>");

    declare("<printers><printer><PortNumber>7</PortNumber>");
    EXPECT_EQ(findUsbPrinter(transport), 1u);
    EXPECT_EQ(transport, "<PORTNAME>USB007</PORTNAME>");
}

TEST_F(UsbEnumerationTest, DeviceIdOfPathsThatAreNoPrinter) {
    declare(kDeclarations);
    EXPECT_EQ(get1284Id(""), "");
    EXPECT_EQ(get1284Id("\\\\.\\pipe\\QtSim\\USB999"), "");
    EXPECT_EQ(get1284Id("\\\\?\\usb#vid_1a2b&pid_0c3d#none#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"), "");
    // Not in the device namespace: never opened, even if such a file exists.
    const std::string file = branding_.folder() + "not-a-printer";
    std::ofstream(file) << "MFG:Impostor;";
    EXPECT_EQ(get1284Id(file), "");
    DeleteFileA(file.c_str());
}

}  // namespace
