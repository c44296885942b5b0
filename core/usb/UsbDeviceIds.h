#pragma once
// The names and numbers derived from a USB printer interface: the spooler port name and printer
// handle of its port number, and the vendor id, product id and serial number in its device
// instance id. Portable and stateless.
#include <cstdint>
#include <string>

// "USB" + the number with leading zeros to three digits ("USB007", "USB042", "USB123", "USB1000").
std::string usbPortName(uint32_t portNumber);
// (portNumber AND 0x7FF) OR 0x2000: the printer handle of the port.
uint32_t usbPortHandle(uint32_t portNumber);
// Whether two port names are the same without regard to case.
bool samePortName(const std::string& a, const std::string& b);
// Whether two device paths are the same without regard to case (as the object manager sees them).
bool sameDevicePath(const std::string& a, const std::string& b);

struct UsbInstanceIds {
    uint32_t vid = 0;  // 0 when the id has no "VID_" with four hexadecimal digits after it
    uint32_t pid = 0;  // likewise for "PID_"
    std::string serialNumber;
};

// Reads an instance id such as USB\VID_1A2B&PID_0C3D\SER123 (case ignored for VID_ and PID_).
// The serial number is the last backslash part, or the last ampersand part when that part
// holds an ampersand or the id has no backslash; empty when the id has neither.
UsbInstanceIds parseUsbInstanceId(const std::string& instanceId);

// Whether path lies in the device namespace ("\\?\..." or "\\.\...", without ".." or "/"), as
// interface paths and simulated printers' pipes do. Anything else (a relative path, a drive path, a share) would
// open an ordinary file that any user may have put there.
bool isDeviceNamespacePath(const std::string& path);
