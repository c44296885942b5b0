#pragma once
// USB printer interfaces registered with SetupAPI in the test prefix, as a printer class driver
// leaves them: a device USB\VID_1A2B&PID_0C3D\<kSerialStem><suffix> with printer-class
// interfaces whose keys hold the given values, each enabled the way the driver's
// IoSetDeviceInterfaceState enables it (the interface's volatile Control\Linked = 1, which
// present-only enumeration reads) unless asked otherwise. Construction removes devices of ours
// that a killed run left behind; remove() and the destructor remove all of them. Tests that use
// it run alone (their enumeration sees every interface of the prefix). Failures are gtest failures.
#include "core/usb/SetupApiDeviceSource.h"
#include "runtime/Win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct InterfaceValue {
    std::string name;
    DWORD type;
    std::vector<uint8_t> data;

    static InterfaceValue dword(const std::string& name, uint32_t value) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
        return InterfaceValue{name, REG_DWORD, std::vector<uint8_t>(bytes, bytes + sizeof value)};
    }
    static InterfaceValue text(const std::string& name, const std::string& value) {
        return InterfaceValue{name, REG_SZ, std::vector<uint8_t>(value.c_str(), value.c_str() + value.size() + 1)};
    }
};

struct PrinterInterface {
    std::string reference;  // empty: the device's unnamed interface
    std::vector<InterfaceValue> values;
    bool enabled = true;
};

class RegisteredPrinterInterfaces {
public:
    static constexpr const char* kSerialStem = "TVXRIG";

    RegisteredPrinterInterfaces() { remove(); }
    ~RegisteredPrinterInterfaces() { remove(); }
    RegisteredPrinterInterfaces(const RegisteredPrinterInterfaces&) = delete;
    RegisteredPrinterInterfaces& operator=(const RegisteredPrinterInterfaces&) = delete;

    static std::string instanceId(const std::string& suffix) {
        return std::string("USB\\VID_1A2B&PID_0C3D\\") + kSerialStem + suffix;
    }

    // Registers the device and its interfaces; their device paths in order (empty on failure).
    std::vector<std::string> add(const std::string& suffix, const std::vector<PrinterInterface>& interfaces) {
        std::vector<std::string> paths;
        const HDEVINFO set = SetupDiCreateDeviceInfoList(&kUsbSetupClass, nullptr);
        if (set == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "SetupDiCreateDeviceInfoList: " << GetLastError();
            return paths;
        }
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiCreateDeviceInfoA(set, instanceId(suffix).c_str(), &kUsbSetupClass, nullptr, nullptr, 0, &device) ||
            !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
            ADD_FAILURE() << "registering " << instanceId(suffix) << ": " << GetLastError();
        } else {
            for (const PrinterInterface& wanted : interfaces) {
                const std::string path = addInterface(set, device, wanted);
                if (path.empty()) break;
                paths.push_back(path);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        if (paths.size() != interfaces.size()) paths.clear();
        return paths;
    }

    // Removes every device of ours with its interfaces; the number still registered (0 when clean).
    size_t remove() {
        removeFrom(SetupDiGetClassDevsA(&kUsbPrintInterfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE), true);
        removeFrom(SetupDiGetClassDevsA(&kUsbSetupClass, nullptr, nullptr, 0), false);
        // Registering the first interface of the class made its key, which Wine keeps when the
        // last interface goes; deleting it fails while any interface is registered.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kClassKey);
        return countLeft(SetupDiGetClassDevsA(&kUsbPrintInterfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE)) +
               countLeft(SetupDiGetClassDevsA(&kUsbSetupClass, nullptr, nullptr, 0));
    }

private:
    static constexpr const char* kClassKey =
        "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    // GUID_DEVCLASS_USB, the setup class of USB devices.
    static constexpr GUID kUsbSetupClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

    static std::string addInterface(HDEVINFO set, SP_DEVINFO_DATA& device, const PrinterInterface& wanted) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        const char* reference = wanted.reference.empty() ? nullptr : wanted.reference.c_str();
        if (!SetupDiCreateDeviceInterfaceA(set, &device, &kUsbPrintInterfaceClass, reference, 0, &data)) {
            ADD_FAILURE() << "SetupDiCreateDeviceInterfaceA: " << GetLastError();
            return std::string();
        }
        const HKEY key = SetupDiCreateDeviceInterfaceRegKeyA(set, &data, 0, KEY_ALL_ACCESS, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "SetupDiCreateDeviceInterfaceRegKeyA: " << GetLastError();
            return std::string();
        }
        for (const InterfaceValue& value : wanted.values) {
            EXPECT_EQ(RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                                     static_cast<DWORD>(value.data.size())),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
        char buffer[1024] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = sizeof *detail;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr)) {
            ADD_FAILURE() << "SetupDiGetDeviceInterfaceDetailA: " << GetLastError();
            return std::string();
        }
        const std::string path = detail->DevicePath;
        if (wanted.enabled && !link(path)) return std::string();
        return path;
    }

    // The interface's key under DeviceClasses is named after its path: "\\?\" becomes "##?#" and
    // the reference string (after the class GUID's backslash) names the "#..." subkey.
    static bool link(const std::string& path) {
        const std::string rest = path.substr(4);
        const std::string::size_type slash = rest.find('\\');
        const std::string base = rest.substr(0, slash);
        const std::string reference = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        const std::string name = std::string(kClassKey) + "\\##?#" + base + "\\#" + reference + "\\Control";
        HKEY key = nullptr;
        const LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                        KEY_SET_VALUE, nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) {
            ADD_FAILURE() << "creating " << name << ": " << rc;
            return false;
        }
        const DWORD linked = 1;
        const LONG set = RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), sizeof linked);
        RegCloseKey(key);
        EXPECT_EQ(set, ERROR_SUCCESS);
        return set == ERROR_SUCCESS;
    }

    static bool ours(HDEVINFO list, SP_DEVINFO_DATA& device) {
        char id[512] = {};
        return SetupDiGetDeviceInstanceIdA(list, &device, id, sizeof id, nullptr) &&
               std::string(id).find(std::string("\\") + kSerialStem) != std::string::npos;
    }

    static std::vector<SP_DEVINFO_DATA> oursIn(HDEVINFO list) {
        std::vector<SP_DEVINFO_DATA> found;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &device); ++i) {
            if (ours(list, device)) found.push_back(device);
        }
        return found;
    }

    static void removeFrom(HDEVINFO list, bool interfaces) {
        if (list == INVALID_HANDLE_VALUE) return;
        for (SP_DEVINFO_DATA& device : oursIn(list)) {
            std::vector<SP_DEVICE_INTERFACE_DATA> members;
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof data;
            for (DWORD m = 0; interfaces && SetupDiEnumDeviceInterfaces(list, &device, &kUsbPrintInterfaceClass, m, &data); ++m) {
                members.push_back(data);
            }
            for (SP_DEVICE_INTERFACE_DATA& member : members) SetupDiRemoveDeviceInterface(list, &member);
            SetupDiRemoveDevice(list, &device);
        }
        SetupDiDestroyDeviceInfoList(list);
    }

    static size_t countLeft(HDEVINFO list) {
        if (list == INVALID_HANDLE_VALUE) return 0;
        const size_t left = oursIn(list).size();
        SetupDiDestroyDeviceInfoList(list);
        return left;
    }
};
