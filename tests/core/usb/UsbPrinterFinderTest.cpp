#include "FakeDeviceSource.h"
#include "core/usb/UsbPrinterFinder.h"
#include "export/common/PropertyText.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// The elements findUsbPrinter writes; "-" stands for an element that must be absent.
const char* const kElements[] = {"PORTNAME", "PORTHANDLE", "VID", "PID", "SERIALNUMBER", "DEVICEPATH",
                                 "1284DEVICEIDSTRING"};

struct FinderCase {
    const char* what;
    std::vector<FakeDevice> devices;
    bool opens;
    std::string requested;
    uint32_t rc;
    std::map<std::string, std::string> expected;  // elements not listed must be absent
};

FakeDevice withValues(std::vector<UsbKeyValue> values) {
    FakeDevice d;
    d.values = std::move(values);
    return d;
}

template <typename Change>
FakeDevice port(uint32_t n, Change change) {
    FakeDevice d = FakeDevice::port(n);
    change(d);
    return d;
}

const std::string kPath = FakeDevice().devicePath;
const std::string k1284 = FakeDevice().reply1284;

std::vector<FinderCase> finderCases() {
    const std::map<std::string, std::string> found1 = {
        {"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"},     {"VID", "6699"}, {"PID", "3133"},
        {"SERIALNUMBER", "SER123"}, {"DEVICEPATH", kPath}, {"1284DEVICEIDSTRING", k1284}};
    return {
        {"the list cannot be built", {FakeDevice::port(1)}, false, "USB001", 6, {}},
        {"an empty list", {}, true, "USB001", 1, {}},
        {"the list ends before a match; the last examined port stays",
         {FakeDevice::port(1), FakeDevice::port(2)}, true, "USB003", 1,
         {{"PORTNAME", "USB002"}, {"PORTHANDLE", "8194"}}},
        {"found", {FakeDevice::port(1)}, true, "USB001", 0, found1},
        {"a lower-case request names the port in upper case", {FakeDevice::port(1)}, true, "usb001", 0, found1},
        {"devices without interface, key or readable key are skipped",
         {port(1, [](FakeDevice& d) { d.hasInterface = false; }), port(1, [](FakeDevice& d) { d.keyOpens = false; }),
          port(1, [](FakeDevice& d) { d.keyRaises = true; }), FakeDevice::port(1)},
         true, "USB001", 0, found1},
        {"port number 0 never matches, not even USB000", {FakeDevice::port(0)}, true, "USB000", 1,
         {{"PORTNAME", "USB000"}, {"PORTHANDLE", "8192"}}},
        {"no port number value", {withValues({})}, true, "USB000", 1, {}},
        {"the value name is matched without case, its type must be DWORD",
         {withValues({{"PORT NUMBER", 1 /* REG_SZ */, 5}}), withValues({{"port number", UsbKeyValue::kDwordType, 5}})},
         true, "USB005", 0,
         {{"PORTNAME", "USB005"}, {"PORTHANDLE", "8197"}, {"VID", "6699"}, {"PID", "3133"},
          {"SERIALNUMBER", "SER123"}, {"DEVICEPATH", kPath}, {"1284DEVICEIDSTRING", k1284}}},
        {"port 7 and port 123", {FakeDevice::port(7), FakeDevice::port(123)}, true, "USB123", 0,
         {{"PORTNAME", "USB123"}, {"PORTHANDLE", "8315"}, {"VID", "6699"}, {"PID", "3133"},
          {"SERIALNUMBER", "SER123"}, {"DEVICEPATH", kPath}, {"1284DEVICEIDSTRING", k1284}}},
        {"the instance id fails", {port(1, [](FakeDevice& d) { d.instanceIdFails = true; })}, true, "USB001", 0,
         {{"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"}}},
        {"neither vid nor pid", {port(1, [](FakeDevice& d) { d.instanceId = "ROOT\\PRINTER\\0000"; })}, true,
         "USB001", 0,
         {{"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"}, {"VID", "0"}, {"PID", "0"}, {"SERIALNUMBER", "0000"}}},
        {"a pid alone is enough", {port(1, [](FakeDevice& d) { d.instanceId = "USB\\PID_0C3D\\S1"; })}, true,
         "USB001", 0,
         {{"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"}, {"VID", "0"}, {"PID", "3133"}, {"SERIALNUMBER", "S1"},
          {"DEVICEPATH", kPath}, {"1284DEVICEIDSTRING", k1284}}},
        {"the device path fails", {port(1, [](FakeDevice& d) { d.pathFails = true; })}, true, "USB001", 0,
         {{"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"}, {"VID", "6699"}, {"PID", "3133"},
          {"SERIALNUMBER", "SER123"}}},
        {"an empty 1284 reply", {port(1, [](FakeDevice& d) { d.reply1284.clear(); })}, true, "USB001", 0,
         {{"PORTNAME", "USB001"}, {"PORTHANDLE", "8193"}, {"VID", "6699"}, {"PID", "3133"},
          {"SERIALNUMBER", "SER123"}, {"DEVICEPATH", kPath}, {"1284DEVICEIDSTRING", ""}}},
    };
}

TEST(UsbPrinterFinder, FailureTable) {
    for (const FinderCase& c : finderCases()) {
        SCOPED_TRACE(c.what);
        FakeDeviceSource source(c.devices, c.opens);
        std::string transport = "<PORTNAME>" + c.requested + "</PORTNAME><PRINTOBJECTNAME>q</PRINTOBJECTNAME>";
        EXPECT_EQ(findUsbPrinter(transport, source), c.rc);
        for (const char* name : kElements) {
            std::string value;
            const bool present = FindElement(transport, name, value);
            const auto expected = c.expected.find(name);
            if (std::string(name) == "PORTNAME" && expected == c.expected.end()) {
                EXPECT_EQ(value, c.requested) << "PORTNAME must stay as requested";
                continue;
            }
            ASSERT_EQ(present, expected != c.expected.end()) << name;
            if (present) {
                EXPECT_EQ(value, expected->second) << name;
            }
        }
        std::string other;
        EXPECT_TRUE(FindElement(transport, "PRINTOBJECTNAME", other) && other == "q");
    }
}

TEST(UsbPrinterFinder, ExaminesAtMost128Indices) {
    std::vector<FakeDevice> devices;
    for (uint32_t n = 1; n <= 200; ++n) devices.push_back(FakeDevice::port(n));
    FakeDeviceSource source(devices);
    std::string transport = "<PORTNAME>USB150</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(transport, source), 0u);
    std::string value;
    EXPECT_FALSE(FindElement(transport, "DEVICEPATH", value));
    ASSERT_TRUE(FindElement(transport, "PORTNAME", value));
    EXPECT_EQ(value, "USB128");
    EXPECT_EQ(*source.asked().rbegin(), 127u);

    // The last index inside the limit still matches.
    std::string last = "<PORTNAME>USB128</PORTNAME>";
    FakeDeviceSource again(devices);
    EXPECT_EQ(findUsbPrinter(last, again), 0u);
    EXPECT_TRUE(FindElement(last, "DEVICEPATH", value));
}

TEST(CombinedDeviceSource, WalksTheSourcesAsOneList) {
    FakeDeviceSource first({FakeDevice::port(1), FakeDevice::port(2)});
    FakeDevice simulated = FakeDevice::port(3);
    simulated.devicePath = "\\\\.\\pipe\\QvSim\\USB003";
    simulated.instanceId = "USB\\VID_1A2B&PID_0C3D\\6&1F2E3D&0&1";
    FakeDeviceSource second({FakeDevice::port(2), simulated});
    CombinedDeviceSource all({&first, &second});

    std::string transport = "<PORTNAME>USB003</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(transport, all), 0u);
    std::string value;
    ASSERT_TRUE(FindElement(transport, "DEVICEPATH", value));
    EXPECT_EQ(value, simulated.devicePath);
    ASSERT_TRUE(FindElement(transport, "SERIALNUMBER", value));
    EXPECT_EQ(value, "1");

    std::string absent = "<PORTNAME>USB004</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(absent, all), 1u);

    FakeDeviceSource broken({FakeDevice::port(3)}, false);
    CombinedDeviceSource withBroken({&broken, &second});
    std::string none = "<PORTNAME>USB003</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(none, withBroken), 6u);
}

TEST(CombinedDeviceSource, TheIndexLimitCoversBothSources) {
    std::vector<FakeDevice> many;
    for (uint32_t n = 1; n <= 127; ++n) many.push_back(FakeDevice::port(n));
    FakeDeviceSource first(many);
    FakeDeviceSource second({FakeDevice::port(500), FakeDevice::port(501)});
    CombinedDeviceSource all({&first, &second});
    std::string at127 = "<PORTNAME>USB500</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(at127, all), 0u);
    std::string value;
    EXPECT_TRUE(FindElement(at127, "DEVICEPATH", value));

    CombinedDeviceSource again({&first, &second});
    std::string at128 = "<PORTNAME>USB501</PORTNAME>";
    EXPECT_EQ(findUsbPrinter(at128, again), 0u);
    EXPECT_FALSE(FindElement(at128, "DEVICEPATH", value));
}

}  // namespace
