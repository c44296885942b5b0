#include "logging/EventLog.h"

#include "runtime/CriticalSection.h"
#include "runtime/Win32.h"

#include <exception>

namespace {

struct Held {
    EventLog::Id id;
    std::vector<std::string> inserts;
};

struct EventLogState {
    CriticalSection lock;
    std::string source;
    std::vector<Held> held;
};

EventLogState& state() {
    static EventLogState s;
    return s;
}

// Wine's event log shows only the inserts, and the Windows viewer cuts very long ones; a
// message of an exception is never needed whole here.
const size_t kMaxInsertLength = 512;

bool write(const std::string& source, EventLog::Id id, const std::vector<std::string>& inserts) {
    // Opened per entry: entries are rare, and a handle kept open would outlive a reinstall
    // that changes the source's registration.
    const HANDLE handle = RegisterEventSourceA(nullptr, source.c_str());
    if (handle == nullptr) return false;
    std::vector<std::string> texts;
    texts.reserve(inserts.size() + 1);
    texts.push_back(source);
    for (const std::string& insert : inserts) texts.push_back(insert.substr(0, kMaxInsertLength));
    std::vector<const char*> strings;
    for (const std::string& text : texts) strings.push_back(text.c_str());
    const BOOL ok = ReportEventA(handle, EventLog::typeOf(id), 0, id, nullptr, static_cast<WORD>(strings.size()), 0,
                                 strings.data(), nullptr);
    DeregisterEventSource(handle);
    return ok != FALSE;
}

}  // namespace

uint16_t EventLog::typeOf(Id id) {
    switch (static_cast<uint32_t>(id) >> 30) {
    case 3:
        return EVENTLOG_ERROR_TYPE;
    case 2:
        return EVENTLOG_WARNING_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

void EventLog::setSource(const std::string& serviceName) {
    std::vector<Held> held;
    {
        EventLogState& s = state();
        CriticalSectionLock guard(s.lock);
        s.source = serviceName;
        held.swap(s.held);
    }
    for (const Held& entry : held) report(entry.id, entry.inserts);
}

bool EventLog::report(Id id, const std::vector<std::string>& inserts) {
    try {
        std::string source;
        {
            EventLogState& s = state();
            CriticalSectionLock guard(s.lock);
            if (s.source.empty()) {
                if (s.held.size() >= kHeldEntries) return false;
                s.held.push_back(Held{id, inserts});
                return true;
            }
            source = s.source;
        }
        return write(source, id, inserts);
    } catch (const std::exception&) {
        // Reporting a failure must not become one.
        return false;
    }
}

std::string EventLog::sourceKey(const std::string& serviceName) {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + serviceName;
}

uint32_t EventLog::registerSource(const std::string& serviceName, const std::string& messageFile) {
    if (serviceName.empty() || serviceName.find('\\') != std::string::npos) return ERROR_INVALID_NAME;
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, sourceKey(serviceName).c_str(), 0, nullptr, 0,
                                 KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    rc = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(messageFile.c_str()),
                        static_cast<DWORD>(messageFile.size() + 1));
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegCloseKey(key);
    return static_cast<uint32_t>(rc);
}

uint32_t EventLog::unregisterSource(const std::string& serviceName) {
    if (serviceName.empty() || serviceName.find('\\') != std::string::npos) return ERROR_INVALID_NAME;
    const LSTATUS rc = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, sourceKey(serviceName).c_str(), KEY_WOW64_64KEY, 0);
    return rc == ERROR_FILE_NOT_FOUND ? 0 : static_cast<uint32_t>(rc);
}

void EventLog::reset() {
    EventLogState& s = state();
    CriticalSectionLock guard(s.lock);
    s.source.clear();
    s.held.clear();
}
