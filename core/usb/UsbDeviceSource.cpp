#include "core/usb/UsbDeviceSource.h"

#include "runtime/Exception.h"

UsbDeviceSource::~UsbDeviceSource() = default;

CombinedDeviceSource::CombinedDeviceSource(std::vector<UsbDeviceSource*> sources)
    : sources_(std::move(sources)), counts_(sources_.size(), -1) {}

bool CombinedDeviceSource::open() {
    for (UsbDeviceSource* source : sources_) {
        if (!source->open()) return false;
    }
    return true;
}

uint32_t CombinedDeviceSource::countOf(std::size_t k) {
    if (counts_[k] < 0) {
        // Enumeration stops after 128 indices; a source is never asked beyond what the walk needs.
        uint32_t n = 0;
        while (n <= 128 && sources_[k]->device(n)) ++n;
        counts_[k] = n;
    }
    return static_cast<uint32_t>(counts_[k]);
}

bool CombinedDeviceSource::locate(uint32_t index, UsbDeviceSource*& source, uint32_t& local) {
    uint32_t base = 0;
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        const uint32_t count = countOf(k);
        if (index - base < count) {
            source = sources_[k];
            local = index - base;
            return true;
        }
        base += count;
    }
    return false;
}

bool CombinedDeviceSource::device(uint32_t index) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    // The sources' own device() keeps whatever per-device state they need for the later steps.
    return locate(index, source, local) && source->device(local);
}

bool CombinedDeviceSource::hasInterface(uint32_t index) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    return locate(index, source, local) && source->hasInterface(local);
}

bool CombinedDeviceSource::keyValues(uint32_t index, std::vector<UsbKeyValue>& values) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    return locate(index, source, local) && source->keyValues(local, values);
}

std::string CombinedDeviceSource::instanceId(uint32_t index) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    if (!locate(index, source, local)) throw Win32Exception("SetupDiGetDeviceInstanceId failed", 259);
    return source->instanceId(local);
}

std::string CombinedDeviceSource::devicePath(uint32_t index) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    if (!locate(index, source, local)) throw Win32Exception("SetupDiGetInterfaceDeviceDetail failed ", 259);
    return source->devicePath(local);
}

std::string CombinedDeviceSource::read1284Id(uint32_t index, const std::string& devicePath) {
    UsbDeviceSource* source = nullptr;
    uint32_t local = 0;
    return locate(index, source, local) ? source->read1284Id(local, devicePath) : std::string();
}
