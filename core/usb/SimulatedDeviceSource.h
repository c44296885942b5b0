#pragma once
// The simulated printers of a simulated-printers.xml file as a device list. A missing file is
// the normal case and gives an empty list; an unreadable or malformed one gives an empty list
// too, with a log line. Every simulated printer has an interface; its key holds its
// PortNumber as the DWORD "Port Number".
#include "core/usb/SimulatedPrinterFile.h"
#include "core/usb/UsbDeviceSource.h"

#include <string>
#include <vector>

class SimulatedDeviceSource : public UsbDeviceSource {
public:
    // The file simulated-printers.xml beside the program, as the branding names the program;
    // empty when there is no branding.
    static std::string defaultFilePath();
    // Files larger than this are refused as malformed.
    static constexpr uint32_t kMaxFileSize = 1024 * 1024;

    explicit SimulatedDeviceSource(const std::string& filePath);

    // Reads the file once; always true.
    bool open() override;
    bool device(uint32_t index) override;
    bool hasInterface(uint32_t index) override;
    bool keyValues(uint32_t index, std::vector<UsbKeyValue>& values) override;
    std::string instanceId(uint32_t index) override;
    std::string devicePath(uint32_t index) override;
    // The printer's DeviceId behind its length prefix.
    std::string read1284Id(uint32_t index, const std::string& devicePath) override;

    // After open(): the records read.
    const std::vector<SimulatedPrinter>& printers() const { return printers_; }

private:
    std::string filePath_;
    bool opened_;
    std::vector<SimulatedPrinter> printers_;
};
