#include "core/usb/UsbEnumeration.h"

#include "core/usb/SetupApiDeviceSource.h"
#include "core/usb/SimulatedDeviceSource.h"
#include "core/usb/UsbDeviceIds.h"
#include "core/usb/UsbPrinterFinder.h"

uint32_t findUsbPrinter(std::string& transportString) {
    SetupApiDeviceSource system;
    SimulatedDeviceSource simulated(SimulatedDeviceSource::defaultFilePath());
    CombinedDeviceSource all({&system, &simulated});
    return findUsbPrinter(transportString, all);
}

std::string get1284Id(const std::string& devicePath) {
    if (devicePath.empty()) return std::string();
    // A simulated printer's path names its pipes' folder; opening it would take a pipe instance.
    SimulatedDeviceSource simulated(SimulatedDeviceSource::defaultFilePath());
    simulated.open();
    const std::vector<SimulatedPrinter>& printers = simulated.printers();
    for (uint32_t i = 0; i < printers.size(); ++i) {
        if (sameDevicePath(printers[i].devicePath, devicePath)) return simulated.read1284Id(i, devicePath);
    }
    return requestDevice1284Id(devicePath);
}
