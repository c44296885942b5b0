#include "core/usb/UsbDeviceIds.h"

#include <gtest/gtest.h>

namespace {

TEST(UsbDeviceIds, PortNamesAndHandles) {
    const struct {
        uint32_t number;
        const char* name;
        uint32_t handle;
    } cases[] = {
        {0, "USB000", 0x2000}, {1, "USB001", 8193},   {7, "USB007", 8199},         {42, "USB042", 8234},
        {99, "USB099", 8291},  {123, "USB123", 8315}, {2047, "USB2047", 0x27FF}, {2048, "USB2048", 0x2000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(usbPortName(c.number), c.name) << c.number;
        EXPECT_EQ(usbPortHandle(c.number), c.handle) << c.number;
    }
    EXPECT_TRUE(samePortName("usb001", "USB001"));
    EXPECT_FALSE(samePortName("USB01", "USB001"));
}

TEST(UsbDeviceIds, InstanceIds) {
    const struct {
        const char* id;
        uint32_t vid;
        uint32_t pid;
        const char* serial;
    } cases[] = {
        {"USB\\VID_1A2B&PID_0C3D\\SER123", 6699, 3133, "SER123"},
        {"USB\\VID_1A2B&PID_0C3D\\6&1F2E3D&0&1", 6699, 3133, "1"},
        {"usb\\vid_1a2b&pid_0c3d\\abc", 6699, 3133, "abc"},
        {"USB\\VID_1A2B&PID_0C3D&MI_00\\7&2&0", 6699, 3133, "0"},
        {"VID_1A2B&PID_0C3D&SER9", 6699, 3133, "SER9"},
        {"USB\\VID_1A2B\\", 6699, 0, ""},
        {"NOSEPARATORS", 0, 0, ""},
        {"", 0, 0, ""},
        // Ids that are not four hexadecimal digits are unknown rather than misread.
        {"USB\\VID_1A2&PID_0C3D\\S", 0, 3133, "S"},
        {"USB\\VID_1A2G&PID_0C3\\S", 0, 0, "S"},
        {"USB\\VID_1A2B5&PID_", 0, 0, "PID_"},
        {"USB\\VID_1A", 0, 0, "VID_1A"},
        {"USB\\VID_ 1A2B&PID_0C3D\\S", 0, 3133, "S"},
    };
    for (const auto& c : cases) {
        const UsbInstanceIds ids = parseUsbInstanceId(c.id);
        EXPECT_EQ(ids.vid, c.vid) << c.id;
        EXPECT_EQ(ids.pid, c.pid) << c.id;
        EXPECT_EQ(ids.serialNumber, c.serial) << c.id;
    }
}

TEST(UsbDeviceIds, OnlyDeviceNamespacePathsAreOpened) {
    EXPECT_TRUE(isDeviceNamespacePath("\\\\?\\usb#vid_1a2b&pid_0c3d#ser#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"));
    EXPECT_TRUE(isDeviceNamespacePath("\\\\.\\pipe\\QvSim\\USB001\\PIPE01"));
    for (const char* path : {"", "\\PIPE01", "PIPE01", "C:\\PIPE01", "\\\\server\\share\\PIPE01", "\\\\.\\",
                             "\\\\.\\pipe\\..\\C:\\x", "\\\\.\\pipe/x", "\\\\?\\..\\x"}) {
        EXPECT_FALSE(isDeviceNamespacePath(path)) << path;
    }
}

}  // namespace
