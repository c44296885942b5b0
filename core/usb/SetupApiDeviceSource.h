#pragma once
// The system's present USB printer-class interfaces, through SetupAPI. The device information
// list is built by open() and destroyed with the object.
#include "core/usb/UsbDeviceSource.h"
#include "runtime/Win32.h"

#include <setupapi.h>

// GUID_DEVINTERFACE_USBPRINT, the published class of USB printer interfaces.
extern const GUID kUsbPrintInterfaceClass;

class SetupApiDeviceSource : public UsbDeviceSource {
public:
    SetupApiDeviceSource();
    ~SetupApiDeviceSource() override;
    SetupApiDeviceSource(const SetupApiDeviceSource&) = delete;
    SetupApiDeviceSource& operator=(const SetupApiDeviceSource&) = delete;

    bool open() override;
    bool device(uint32_t index) override;
    bool hasInterface(uint32_t index) override;
    bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) override;
    std::string instanceId(uint32_t index) override;
    std::string devicePath(uint32_t index) override;
    // The printer class driver's answer to IOCTL_USBPRINT_GET_1284_ID.
    std::string read1284Id(uint32_t index, const std::string& devicePath) override;

private:
    // Enumerates the device (and, with withInterface, its interface) at index into the cache.
    bool select(uint32_t index, bool withInterface);

    HDEVINFO list_;
    uint32_t index_;
    bool haveDevice_;
    bool haveInterface_;
    SP_DEVINFO_DATA device_;
    SP_DEVICE_INTERFACE_DATA interface_;
};

// The raw reply of IOCTL_USBPRINT_GET_1284_ID on the interface itself (not a pipe): the length
// prefix and the id text, or empty when the device cannot be opened or does not answer.
std::string requestDevice1284Id(const std::string& devicePath);
