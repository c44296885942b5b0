#pragma once
// The system's present USB printer-class interfaces, through SetupAPI. Each index of the list is
// one interface: every interface of the first device, then those of the next, so a device with
// several printer interfaces shows them all. The device information list is built by open() and
// destroyed with the object.
#include "core/usb/UsbDeviceSource.h"
#include "runtime/Win32.h"

#include <setupapi.h>

#include <vector>

// GUID_DEVINTERFACE_USBPRINT, the published class of USB printer interfaces.
extern const GUID kUsbPrintInterfaceClass;

class SetupApiDeviceSource : public UsbDeviceSource {
public:
    SetupApiDeviceSource();
    ~SetupApiDeviceSource() override;
    SetupApiDeviceSource(const SetupApiDeviceSource&) = delete;
    SetupApiDeviceSource& operator=(const SetupApiDeviceSource&) = delete;

    bool open() override;
    // Whether the list holds an interface at index.
    bool device(uint32_t index) override;
    bool hasInterface(uint32_t index) override;
    // A REG_DWORD value that does not hold four bytes is reported with type 0 (no number).
    bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) override;
    std::string instanceId(uint32_t index) override;
    std::string devicePath(uint32_t index) override;
    // The printer class driver's answer to IOCTL_USBPRINT_GET_1284_ID.
    std::string read1284Id(uint32_t index, const std::string& devicePath) override;

private:
    struct Entry {
        SP_DEVINFO_DATA device;
        SP_DEVICE_INTERFACE_DATA interface;
    };

    // The interface at index, enumerating devices as far as needed; null past the end.
    Entry* entry(uint32_t index);

    HDEVINFO list_;
    std::vector<Entry> entries_;
    DWORD nextDevice_;
    bool listEnded_;
};

// The raw reply of IOCTL_USBPRINT_GET_1284_ID on the interface itself (not a pipe): the length
// prefix and the id text, or empty when the device cannot be opened or does not answer.
std::string requestDevice1284Id(const std::string& devicePath);
