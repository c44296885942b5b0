#include "core/usb/SimulatedDeviceSource.h"

#include "config/Localize.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

namespace {

constexpr const char* kComponent = "BidiService";
constexpr const char* kFileName = "simulated-printers.xml";

// 0 with the content; 2 when the file does not exist; another code when it cannot be read.
DWORD readWholeFile(const std::string& path, std::string& content) {
    const UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (size.QuadPart > SimulatedDeviceSource::kMaxFileSize) return ERROR_FILE_TOO_LARGE;
    content.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD total = 0;
    while (total < content.size()) {
        DWORD n = 0;
        if (!ReadFile(file.get(), &content[total], static_cast<DWORD>(content.size() - total), &n, nullptr)) {
            return GetLastError();
        }
        if (n == 0) break;
        total += n;
    }
    content.resize(total);
    return 0;
}

}  // namespace

std::string SimulatedDeviceSource::defaultFilePath() {
    if (!Localize::exists()) return std::string();
    const std::string modulePath = Localize::getInstance().getModulePath();
    const std::string::size_type slash = modulePath.rfind('\\');
    if (slash == std::string::npos) return std::string();
    return modulePath.substr(0, slash + 1) + kFileName;
}

SimulatedDeviceSource::SimulatedDeviceSource(const std::string& filePath) : filePath_(filePath), opened_(false) {}

bool SimulatedDeviceSource::open() {
    if (opened_) return true;
    opened_ = true;
    if (filePath_.empty()) return true;
    std::string content;
    const DWORD rc = readWholeFile(filePath_, content);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return true;
    if (rc != 0) {
        LogFacade::getInstance().log(kComponent, "SimulatedDeviceSource::open() cannot read " + filePath_ +
                                                     ": rc=" + std::to_string(rc));
        return true;
    }
    const uint32_t parsed = SimulatedPrinterFile::parse(content, printers_);
    if (parsed != 0) {
        LogFacade::getInstance().log(kComponent, "SimulatedDeviceSource::open() malformed " + filePath_ +
                                                     ": rc=" + std::to_string(parsed));
    }
    return true;
}

bool SimulatedDeviceSource::device(uint32_t index) { return index < printers_.size(); }

bool SimulatedDeviceSource::hasInterface(uint32_t index) { return index < printers_.size(); }

bool SimulatedDeviceSource::keyValues(uint32_t index, std::vector<UsbKeyValue>& values) {
    if (index >= printers_.size()) return false;
    UsbKeyValue value;
    value.name = "Port Number";
    value.type = UsbKeyValue::kDwordType;
    value.dword = printers_[index].portNumber;
    values.push_back(value);
    return true;
}

std::string SimulatedDeviceSource::instanceId(uint32_t index) {
    if (index >= printers_.size()) TOLVEX_THROW_WIN32("SetupDiGetDeviceInstanceId failed", ERROR_NO_MORE_ITEMS);
    return printers_[index].instanceId;
}

std::string SimulatedDeviceSource::devicePath(uint32_t index) {
    if (index >= printers_.size() || printers_[index].devicePath.empty()) {
        TOLVEX_THROW_WIN32("SetupDiGetInterfaceDeviceDetail failed ", ERROR_NO_MORE_ITEMS);
    }
    return printers_[index].devicePath;
}

std::string SimulatedDeviceSource::read1284Id(uint32_t index, const std::string&) {
    if (index >= printers_.size()) return std::string();
    return SimulatedPrinterFile::reply1284(printers_[index].deviceId);
}
