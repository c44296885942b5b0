#pragma once
// A scripted device list: each device says which enumeration step fails and what the others
// return. Records the indices the walk asked about.
#include "core/usb/UsbDeviceSource.h"
#include "runtime/Exception.h"

#include <set>
#include <string>
#include <vector>

struct FakeDevice {
    bool hasInterface = true;
    bool keyOpens = true;
    bool keyRaises = false;
    std::vector<UsbKeyValue> values;
    bool instanceIdFails = false;
    std::string instanceId = "USB\\VID_1A2B&PID_0C3D\\SER123";
    bool pathFails = false;
    std::string devicePath = "\\\\?\\usb#vid_1a2b&pid_0c3d#ser123#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    std::string reply1284 = std::string("\x00\x0cMFG:Q;CMD:;", 14);

    static FakeDevice port(uint32_t number) {
        FakeDevice device;
        device.values.push_back({"Port Number", UsbKeyValue::kDwordType, number});
        return device;
    }
};

class FakeDeviceSource : public UsbDeviceSource {
public:
    explicit FakeDeviceSource(std::vector<FakeDevice> devices, bool opens = true)
        : devices_(std::move(devices)), opens_(opens) {}

    bool open() override { return opens_; }
    bool device(uint32_t index) override {
        asked_.insert(index);
        return index < devices_.size();
    }
    bool hasInterface(uint32_t index) override { return at(index).hasInterface; }
    bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) override {
        const FakeDevice& d = at(index);
        if (!d.keyOpens) return false;
        if (d.keyRaises) throw Win32Exception("RegistryKey::getValueNames()", 5);
        values = d.values;
        return true;
    }
    std::string instanceId(uint32_t index) override {
        if (at(index).instanceIdFails) throw Win32Exception("SetupDiGetDeviceInstanceId failed", 13);
        return at(index).instanceId;
    }
    std::string devicePath(uint32_t index) override {
        if (at(index).pathFails) throw Win32Exception("SetupDiGetInterfaceDeviceDetail failed ", 13);
        return at(index).devicePath;
    }
    std::string read1284Id(uint32_t index, const std::string& path) override {
        return path == at(index).devicePath ? at(index).reply1284 : std::string();
    }

    const std::set<uint32_t>& asked() const { return asked_; }

private:
    const FakeDevice& at(uint32_t index) const { return devices_.at(index); }

    std::vector<FakeDevice> devices_;
    bool opens_;
    std::set<uint32_t> asked_;
};
