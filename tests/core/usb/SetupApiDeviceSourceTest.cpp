// The service's enumeration (present-only, as it always asks) over printer interfaces registered
// with SetupAPI in the test prefix. No driver runs the devices under Wine, so opening one for
// its 1284 id fails as for a printer that cannot be opened.
#include "core/usb/UsbEnumeration.h"
#include "export/common/PropertyText.h"
#include "tests/support/RegisteredPrinterInterfaces.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string element(const std::string& text, const char* name) {
    std::string value = "(absent)";
    FindElement(text, name, value);
    return value;
}

PrinterInterface port(uint32_t number, const std::string& reference = std::string()) {
    return PrinterInterface{reference, {InterfaceValue::dword("Port Number", number)}, true};
}

class SetupApiDeviceSourceTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(interfaces_.remove(), 0u); }

    RegisteredPrinterInterfaces interfaces_;
};

TEST_F(SetupApiDeviceSourceTest, FindsEveryEnabledInterfaceByItsPortNumber) {
    const InterfaceValue malformed{"Port Number", REG_DWORD, {0x89, 0x03}};  // 905 in two bytes
    const std::vector<std::string> single = interfaces_.add("A", {port(901)});
    const std::vector<std::string> twoOnOneDevice = interfaces_.add("B", {port(902), port(903, "second")});
    ASSERT_EQ(single.size(), 1u);
    ASSERT_EQ(twoOnOneDevice.size(), 2u);
    ASSERT_EQ(interfaces_.add("C", {PrinterInterface{"", {InterfaceValue::text("Port Number", "904")}, true}}).size(), 1u);
    ASSERT_EQ(interfaces_.add("D", {PrinterInterface{"", {malformed}, true}}).size(), 1u);
    ASSERT_EQ(interfaces_.add("E", {PrinterInterface{"", {InterfaceValue::dword("Port Number", 906)}, false}}).size(), 1u);
    const std::vector<std::string> otherValueMalformed = interfaces_.add(
        "F", {PrinterInterface{"", {InterfaceValue::dword("port number", 907), {"Other", REG_DWORD, {1, 2}}}, true}});
    ASSERT_EQ(otherValueMalformed.size(), 1u);
    ASSERT_EQ(interfaces_.add("G", {port(0)}).size(), 1u);
    ASSERT_EQ(interfaces_.add("H", {PrinterInterface{"", {InterfaceValue::text("Base Name", "USB")}, true}}).size(), 1u);

    const struct {
        const char* requested;
        uint32_t rc;
        std::string path;        // empty: not found
        const char* serial;
        const char* portHandle;
    } cases[] = {
        {"USB901", 0, single[0], "TVXRIGA", "9093"},
        {"usb901", 0, single[0], "TVXRIGA", "9093"},
        {"USB902", 0, twoOnOneDevice[0], "TVXRIGB", "9094"},
        {"USB903", 0, twoOnOneDevice[1], "TVXRIGB", "9095"},
        {"USB904", 1, "", "", ""},  // "Port Number" as text
        {"USB905", 1, "", "", ""},  // a REG_DWORD of two bytes is no port number
        {"USB906", 1, "", "", ""},  // registered but not enabled: the printer is not plugged in
        {"USB907", 0, otherValueMalformed[0], "TVXRIGF", "9099"},
        {"USB000", 1, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        std::string transport = std::string("<PORTNAME>") + c.requested + "</PORTNAME>";
        EXPECT_EQ(findUsbPrinter(transport), c.rc);
        if (c.path.empty()) {
            EXPECT_EQ(element(transport, "DEVICEPATH"), "(absent)");
            continue;
        }
        const std::map<std::string, std::string> expected = {
            {"PORTNAME", "USB" + std::string(c.requested + 3)},
            {"PORTHANDLE", c.portHandle},
            {"VID", "6699"},
            {"PID", "3133"},
            {"SERIALNUMBER", c.serial},
            {"DEVICEPATH", c.path},
            {"1284DEVICEIDSTRING", ""}};
        for (const auto& e : expected) EXPECT_EQ(element(transport, e.first.c_str()), e.second) << e.first;
    }
}

}  // namespace
