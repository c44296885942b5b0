#include "core/usb/UsbPrinterFinder.h"

#include "core/usb/UsbDeviceIds.h"
#include "export/common/PropertyText.h"
#include "runtime/Exception.h"

#include <cctype>

namespace {

constexpr uint32_t kListEnded = 1;
constexpr uint32_t kNoList = 6;
constexpr int32_t kInsufficientInformation = 1359;

bool isPortNumberName(const std::string& name) {
    static const char kName[] = "port number";
    if (name.size() != sizeof kName - 1) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != kName[i]) return false;
    }
    return true;
}

// The port number of the interface at index, PORTNAME and PORTHANDLE written for it; 0 when it
// has none. Registry failures skip the interface (they raise through keyValues).
uint32_t portNumberAt(UsbDeviceSource& source, uint32_t index, std::string& transportString) {
    std::vector<UsbKeyValue> values;
    if (!source.keyValues(index, values)) return 0;
    uint32_t n = 0;
    for (const UsbKeyValue& value : values) {
        if (!isPortNumberName(value.name) || value.type != UsbKeyValue::kDwordType) continue;
        n = value.dword;
        SetElement(transportString, "PORTNAME", usbPortName(n));
        SetElement(transportString, "PORTHANDLE", std::to_string(usbPortHandle(n)));
    }
    return n;
}

void describeDevice(UsbDeviceSource& source, uint32_t index, std::string& transportString) {
    const UsbInstanceIds ids = parseUsbInstanceId(source.instanceId(index));
    SetElement(transportString, "VID", std::to_string(ids.vid));
    SetElement(transportString, "PID", std::to_string(ids.pid));
    SetElement(transportString, "SERIALNUMBER", ids.serialNumber);
    if (ids.vid == 0 && ids.pid == 0) throw Win32Exception("vid/pid is not found", kInsufficientInformation);

    const std::string path = source.devicePath(index);
    SetElement(transportString, "DEVICEPATH", path);
    const std::string id1284 = source.read1284Id(index, path);
    SetElement(transportString, "1284DEVICEIDSTRING", id1284);
    if (id1284.empty()) throw Win32Exception("1284 string is blank", kInsufficientInformation);
}

}  // namespace

uint32_t findUsbPrinter(std::string& transportString, UsbDeviceSource& source) {
    std::string requested;
    FindElement(transportString, "PORTNAME", requested);
    if (!source.open()) return kNoList;

    for (uint32_t index = 0; index < kUsbMaxDeviceIndex; ++index) {
        if (!source.device(index)) return kListEnded;
        if (!source.hasInterface(index)) continue;
        uint32_t n = 0;
        try {
            n = portNumberAt(source, index, transportString);
        } catch (const Win32Exception&) {
            continue;
        }
        // Port number 0 is what an interface without the value reports; it is never a port.
        if (n == 0 || !samePortName(requested, usbPortName(n))) continue;
        try {
            describeDevice(source, index, transportString);
        } catch (const Exception&) {
            // The session is still built; without DEVICEPATH its port cannot open the pipes.
        }
        return 0;
    }
    return 0;
}
