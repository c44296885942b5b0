#include "core/sessions/PrinterTable.h"

#include "export/common/PropertyText.h"

#include <cctype>

namespace {

void upperCase(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

}  // namespace

std::shared_ptr<Printer> PrinterTable::find(uint32_t handle) const {
    std::lock_guard<std::mutex> guard(tableLock_);
    auto it = printers_.find(handle);
    return it == printers_.end() ? nullptr : it->second;
}

std::shared_ptr<Printer> PrinterTable::findOrCreate(uint32_t handle, const Creator& creator) {
    if (auto existing = find(handle)) return existing;
    std::lock_guard<std::mutex> creating(creationLock_);
    // Another connection may have made it while this one waited for the creation lock.
    if (auto existing = find(handle)) return existing;
    std::shared_ptr<Printer> printer = creator();
    if (printer != nullptr) insert(handle, printer);
    return printer;
}

void PrinterTable::insert(uint32_t handle, const std::shared_ptr<Printer>& printer) {
    std::lock_guard<std::mutex> guard(tableLock_);
    printers_[handle] = printer;
}

void PrinterTable::erase(uint32_t handle, const std::shared_ptr<Printer>& printer) {
    std::shared_ptr<Printer> removed;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        auto it = printers_.find(handle);
        if (it == printers_.end() || it->second != printer) return;
        removed = it->second;
        printers_.erase(it);
    }
    // The session dies here (or with its last user), outside the table lock: stopping its read
    // thread must not hold up other lookups.
}

void PrinterTable::destroyAll() {
    std::map<uint32_t, std::shared_ptr<Printer>> removed;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        removed.swap(printers_);
    }
    // A request waiting for its reply holds its session; cut the wait short so that the session
    // is released now rather than after a reply time-out.
    for (const auto& entry : removed) entry.second->abort();
}

size_t PrinterTable::size() const {
    std::lock_guard<std::mutex> guard(tableLock_);
    return printers_.size();
}

size_t PrinterTable::countWithoutPort() const {
    std::lock_guard<std::mutex> guard(tableLock_);
    size_t n = 0;
    for (const auto& entry : printers_) n += entry.second->hasPort() ? 0 : 1;
    return n;
}

std::map<uint32_t, std::shared_ptr<Printer>> PrinterTable::snapshot() const {
    std::lock_guard<std::mutex> guard(tableLock_);
    return printers_;
}

std::shared_ptr<Printer> PrinterTable::findByDevicePath(std::string& path) const {
    upperCase(path);
    for (const auto& entry : snapshot()) {
        std::string devicePath;
        if (!FindElement(entry.second->transportString(), "DEVICEPATH", devicePath)) continue;
        upperCase(devicePath);
        if (devicePath == path) return entry.second;
    }
    return nullptr;
}

void PrinterTable::suspendAll() {
    for (const auto& entry : snapshot()) {
        if (Port* port = entry.second->port()) port->onWindowsSuspend();
    }
}

void PrinterTable::resumeAll() {
    for (const auto& entry : snapshot()) {
        if (Port* port = entry.second->port()) port->onWindowsResume();
    }
}

uint32_t PrinterTable::undockAll() {
    for (const auto& entry : snapshot()) {
        if (Port* port = entry.second->port()) port->onWindowsUndock();
    }
    return 1;
}
