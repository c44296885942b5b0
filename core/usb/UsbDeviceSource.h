#pragma once
// One list of USB printer-class interfaces as enumeration walks it, index by index. The system's
// interfaces and the simulated printers are two implementations; tests inject fakes. Each step
// reports its own failure the way enumeration treats it. Used by one thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One value of an interface's registry key.
struct UsbKeyValue {
    static constexpr uint32_t kDwordType = 4;  // REG_DWORD
    std::string name;
    uint32_t type = 0;
    uint32_t dword = 0;  // the value when type is kDwordType
};

class UsbDeviceSource {
public:
    virtual ~UsbDeviceSource();

    // Builds the list; false when it cannot be built.
    virtual bool open() = 0;
    // Whether the list has an entry at index (a device, or one of a device's interfaces where a
    // device may have several); false ends the list.
    virtual bool device(uint32_t index) = 0;
    // Whether the entry at index has a printer-class interface.
    virtual bool hasInterface(uint32_t index) = 0;
    // The values of the interface's registry key; false when the key cannot be opened. Raises
    // Win32Exception when the values cannot be read.
    virtual bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) = 0;
    // The device instance id; raises Win32Exception "SetupDiGetDeviceInstanceId failed".
    virtual std::string instanceId(uint32_t index) = 0;
    // The interface's device path; raises Win32Exception on failure.
    virtual std::string devicePath(uint32_t index) = 0;
    // The raw 1284 id reply of the device at index (whose path is devicePath), or empty.
    virtual std::string read1284Id(uint32_t index, const std::string& devicePath) = 0;
};

// Several sources walked as one list: the devices of the first, then those of the next, ...
// Does not own the sources.
class CombinedDeviceSource : public UsbDeviceSource {
public:
    explicit CombinedDeviceSource(std::vector<UsbDeviceSource*> sources);

    // False when any source cannot be built.
    bool open() override;
    bool device(uint32_t index) override;
    bool hasInterface(uint32_t index) override;
    bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) override;
    std::string instanceId(uint32_t index) override;
    std::string devicePath(uint32_t index) override;
    std::string read1284Id(uint32_t index, const std::string& devicePath) override;

private:
    // The source and its own index for a combined index; false past the end of the last source.
    bool locate(uint32_t index, UsbDeviceSource*& source, uint32_t& local);
    // The number of devices of source k, counted once.
    uint32_t countOf(std::size_t k);

    std::vector<UsbDeviceSource*> sources_;
    std::vector<int64_t> counts_;  // -1 until counted
};
