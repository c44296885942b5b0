#include "core/usb/UsbDeviceIds.h"

#include <cctype>

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The id after the first tag in the upper-cased text. USB ids are always four hexadecimal
// digits: a shorter or garbled field is reported as unknown (0) rather than read as some other
// vendor's or product's number.
uint32_t readId(const std::string& upperId, const char* tag) {
    const std::string::size_type at = upperId.find(tag);
    if (at == std::string::npos) return 0;
    const std::string::size_type start = at + 4;
    if (upperId.size() - start < 4) return 0;
    uint32_t value = 0;
    for (std::string::size_type i = start; i < start + 4; ++i) {
        const int digit = hexDigit(upperId[i]);
        if (digit < 0) return 0;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    // A fifth hexadecimal digit means the field is not a four-digit id either.
    if (start + 4 < upperId.size() && hexDigit(upperId[start + 4]) >= 0) return 0;
    return value;
}

}  // namespace

std::string usbPortName(uint32_t portNumber) {
    std::string digits = std::to_string(portNumber);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return "USB" + digits;
}

uint32_t usbPortHandle(uint32_t portNumber) { return (portNumber & 0x7FFu) | 0x2000u; }

bool samePortName(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

bool sameDevicePath(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

UsbInstanceIds parseUsbInstanceId(const std::string& instanceId) {
    UsbInstanceIds ids;
    const std::string upperId = upper(instanceId);
    ids.vid = readId(upperId, "VID_");
    ids.pid = readId(upperId, "PID_");

    const std::string::size_type slash = instanceId.rfind('\\');
    const std::string::size_type amp = instanceId.rfind('&');
    if (slash != std::string::npos && (amp == std::string::npos || amp < slash)) {
        ids.serialNumber = instanceId.substr(slash + 1);
    } else if (amp != std::string::npos) {
        ids.serialNumber = instanceId.substr(amp + 1);
    }
    return ids;
}

bool isDeviceNamespacePath(const std::string& path) {
    // "\\.\" paths are normalised, so a ".." component or a "/" could leave the namespace.
    return path.size() > 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.') &&
           path[3] == '\\' && path.find("..") == std::string::npos && path.find('/') == std::string::npos;
}
