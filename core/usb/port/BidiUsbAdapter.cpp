#include "core/usb/port/BidiUsbAdapter.h"

#include "logging/LogFacade.h"

#include <winspool.h>

#include <cctype>
#include <vector>

namespace {

constexpr const char* kComponent = "BidiComponent";
constexpr DWORD kMaxJobs = 2500;

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// A pooled queue names several ports ("USB001,USB002") and the spooler sends each job to
// whichever of them is free, so a job on it may be printing on this port.
bool queueUsesPort(const char* ports, const std::string& portName) {
    if (ports == nullptr || portName.empty()) return false;
    const std::string list(ports);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        size_t first = start;
        size_t last = end;
        while (first < last && list[first] == ' ') ++first;
        while (last > first && list[last - 1] == ' ') --last;
        if (sameName(list.substr(first, last - first), portName)) return true;
        start = end + 1;
    }
    return false;
}

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

}  // namespace

BidiUsbAdapter::BidiUsbAdapter(Clock clock)
    : clock_(clock ? std::move(clock) : Clock([] { return static_cast<uint64_t>(GetTickCount64()); })) {}

BidiUsbAdapter::~BidiUsbAdapter() {
    for (auto& entry : printerHandles_) {
        if (entry.second != nullptr) ClosePrinter(entry.second);
    }
}

std::vector<std::string> BidiUsbAdapter::queues() const {
    std::vector<std::string> names;
    for (const auto& entry : printerHandles_) names.push_back(entry.first);
    return names;
}

void BidiUsbAdapter::openQueuesOf(const std::string& portName) {
    ++lookups_;
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    if (needed == 0) return;
    // PRINTER_INFO_2A holds pointers: the buffer must be aligned for them.
    std::vector<uint64_t> buffer((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, reinterpret_cast<BYTE*>(buffer.data()),
                       static_cast<DWORD>(buffer.size() * sizeof(uint64_t)), &needed, &count)) {
        return;
    }
    const PRINTER_INFO_2A* printers = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (!queueUsesPort(printers[i].pPortName, portName) || printers[i].pPrinterName == nullptr) continue;
        HANDLE handle = nullptr;
        if (OpenPrinterA(printers[i].pPrinterName, &handle, nullptr) && handle != nullptr) {
            auto it = printerHandles_.find(printers[i].pPrinterName);
            if (it != printerHandles_.end()) {
                ClosePrinter(handle);
            } else {
                printerHandles_[printers[i].pPrinterName] = handle;
            }
        }
    }
}

bool BidiUsbAdapter::isPrinting(const std::string& portName) {
    log("+BidiUsbAdapter::isPrinting()");
    if (printerHandles_.empty()) {
        // Listing every printer takes the spooler a while; a port without a queue would pay it
        // before every write.
        const uint64_t now = clock_();
        if (lookNow_.exchange(false) || now - lastLook_ >= kLookAgainMs) {
            lastLook_ = now;
            openQueuesOf(portName);
        }
    }
    for (const auto& entry : printerHandles_) {
        if (entry.second == nullptr) continue;
        DWORD needed = 0;
        DWORD returned = 0;
        if (EnumJobsA(entry.second, 0, kMaxJobs, 1, nullptr, 0, &needed, &returned) || needed == 0) continue;
        std::vector<uint64_t> buffer((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        if (!EnumJobsA(entry.second, 0, kMaxJobs, 1, reinterpret_cast<BYTE*>(buffer.data()),
                       static_cast<DWORD>(buffer.size() * sizeof(uint64_t)), &needed, &returned)) {
            continue;
        }
        const JOB_INFO_1A* jobs = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
        for (DWORD j = 0; j < returned; ++j) {
            if ((jobs[j].Status & (JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING)) != 0) {
                log("-BidiUsbAdapter::isPrinting(): rc=TRUE");
                return true;
            }
        }
    }
    log("-BidiUsbAdapter::isPrinting(): rc=FALSE");
    return false;
}
