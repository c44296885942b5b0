#include "core/usb/SetupApiDeviceSource.h"

#include "config/RegistryKey.h"
#include "core/usb/UsbDeviceFile.h"
#include "runtime/Exception.h"

#include <vector>

const GUID kUsbPrintInterfaceClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

namespace {
constexpr DWORD kIoctlGet1284Id = 0x220034;
constexpr DWORD kMax1284Reply = 1024;
}  // namespace

SetupApiDeviceSource::SetupApiDeviceSource() : list_(INVALID_HANDLE_VALUE), nextDevice_(0), listEnded_(false) {}

SetupApiDeviceSource::~SetupApiDeviceSource() {
    if (list_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list_);
}

bool SetupApiDeviceSource::open() {
    if (list_ != INVALID_HANDLE_VALUE) return true;
    list_ = SetupDiGetClassDevsA(&kUsbPrintInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return list_ != INVALID_HANDLE_VALUE;
}

SetupApiDeviceSource::Entry* SetupApiDeviceSource::entry(uint32_t index) {
    if (list_ == INVALID_HANDLE_VALUE) return nullptr;
    while (entries_.size() <= index && !listEnded_) {
        Entry next = {};
        next.device.cbSize = sizeof next.device;
        if (!SetupDiEnumDeviceInfo(list_, nextDevice_++, &next.device)) {
            listEnded_ = true;
            break;
        }
        // A device may carry several printer interfaces (each with its own reference string and
        // port number); asking for the first member only would leave the others' ports
        // unreachable. A present device whose interfaces are all disabled adds none.
        for (DWORD member = 0;; ++member) {
            next.interface = SP_DEVICE_INTERFACE_DATA();
            next.interface.cbSize = sizeof next.interface;
            if (!SetupDiEnumDeviceInterfaces(list_, &next.device, &kUsbPrintInterfaceClass, member, &next.interface)) {
                break;
            }
            entries_.push_back(next);
        }
    }
    return index < entries_.size() ? &entries_[index] : nullptr;
}

bool SetupApiDeviceSource::device(uint32_t index) { return entry(index) != nullptr; }

bool SetupApiDeviceSource::hasInterface(uint32_t index) { return entry(index) != nullptr; }

bool SetupApiDeviceSource::keyValues(uint32_t index, std::vector<UsbKeyValue>& values) {
    Entry* at = entry(index);
    if (at == nullptr) return false;
    const HKEY opened = SetupDiOpenDeviceInterfaceRegKey(list_, &at->interface, 0, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr) return false;
    RegistryKey key(opened);
    for (const std::string& name : key.getValueNames()) {
        UsbKeyValue value;
        value.name = name;
        value.type = key.getValueType(name);
        if (value.type == UsbKeyValue::kDwordType) {
            try {
                if (!key.getValue(name, value.dword)) continue;
            } catch (const Win32Exception& e) {
                // Some other value of the key being malformed must not hide the port number.
                if (e.code() != ERROR_DATATYPE_MISMATCH) throw;
                value.type = 0;
            }
        }
        values.push_back(value);
    }
    return true;
}

std::string SetupApiDeviceSource::instanceId(uint32_t index) {
    Entry* at = entry(index);
    char id[512] = {};
    DWORD required = 0;
    if (at == nullptr) TOLVEX_THROW_WIN32("SetupDiGetDeviceInstanceId failed", ERROR_NO_MORE_ITEMS);
    if (!SetupDiGetDeviceInstanceIdA(list_, &at->device, id, sizeof id, &required)) {
        TOLVEX_THROW_WIN32("SetupDiGetDeviceInstanceId failed", GetLastError());
    }
    return std::string(id);
}

std::string SetupApiDeviceSource::devicePath(uint32_t index) {
    Entry* at = entry(index);
    if (at == nullptr) TOLVEX_THROW_WIN32("SetupDiGetInterfaceDeviceDetail failed ", ERROR_NO_MORE_ITEMS);
    DWORD size = 0;
    if (!SetupDiGetDeviceInterfaceDetailA(list_, &at->interface, nullptr, 0, &size, nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        TOLVEX_THROW_WIN32("Should return ERROR_INSUFFICIENT_BUFFER", GetLastError());
    }
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        TOLVEX_THROW_WIN32("SetupDiGetInterfaceDeviceDetail failed ", ERROR_INVALID_DATA);
    }
    // Zeroed storage one byte longer than asked, so the path is terminated whatever is returned.
    std::vector<DWORD> storage(size / sizeof(DWORD) + 2, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list_, &at->interface, detail, size, nullptr, nullptr)) {
        TOLVEX_THROW_WIN32("SetupDiGetInterfaceDeviceDetail failed ", GetLastError());
    }
    return std::string(detail->DevicePath);
}

std::string SetupApiDeviceSource::read1284Id(uint32_t, const std::string& devicePath) {
    return requestDevice1284Id(devicePath);
}

std::string requestDevice1284Id(const std::string& devicePath) {
    if (devicePath.empty()) return std::string();
    const UniqueFileHandle device = openUsbDevice(devicePath, GENERIC_WRITE, FILE_SHARE_WRITE, 0);
    if (!device) return std::string();
    uint8_t input[16] = {};
    std::vector<char> output(kMax1284Reply, 0);
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(device.get(), kIoctlGet1284Id, input, sizeof input, output.data(),
                                    static_cast<DWORD>(output.size()), &returned, nullptr);
    if (!ok || returned > kMax1284Reply) return std::string();
    return std::string(output.data(), returned);
}
