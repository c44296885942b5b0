#include "logging/BasicLogger.h"

#include "logging/LogLine.h"
#include "runtime/Exception.h"
#include "runtime/InterProcessLock.h"
#include "runtime/UniqueHandle.h"

#include <exception>

namespace {

const DWORD kSettingCacheMilliseconds = 5000;

std::string windowsDriveRoot() {
    char buffer[MAX_PATH + 1] = {};
    const UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (n < 3 || n > MAX_PATH) return "c:\\";
    return std::string(buffer, 3);
}

// Holds the file lock for one operation: the shared mutex, bounded; without a mutex, this
// process's own lock.
class FileLock {
public:
    FileLock(Mutex* mutex, CriticalSection& section) {
        if (mutex != nullptr)
            lock_.reset(new InterProcessLock(*mutex, BasicLogger::kLockWaitMilliseconds));
        else
            local_.reset(new CriticalSectionLock(section));
    }
    bool held() const { return local_ || (lock_ && lock_->acquired()); }

private:
    std::unique_ptr<InterProcessLock> lock_;
    std::unique_ptr<CriticalSectionLock> local_;
};

}  // namespace

BasicLogger::BasicLogger(const std::string& path, int32_t componentWidth, uint64_t maxFileBytes)
    : componentWidth_(componentWidth), maxFileBytes_(maxFileBytes > 0 ? maxFileBytes : kMaxFileBytes) {
    try {
        security_.reset(new SecurityEveryone(false));
        mutex_.reset(new Mutex(false, logLockName(path), true));
    } catch (const std::exception&) {
    } catch (const Exception&) {
        // Another object may have taken the name (or the descriptor could not be built): the
        // lines are still worth writing, serialised within this process.
    }
    path_ = path.find('\\') == std::string::npos ? windowsDriveRoot() + path : path;
    olderPath_ = olderLogPath(path_);
}

BasicLogger::~BasicLogger() = default;

std::string BasicLogger::lockName() const { return mutex_ ? mutex_->name() : std::string(); }

void BasicLogger::write(const LoggerComponent& component, int32_t level, const std::string& text) {
    write(component, level, text.c_str());
}

void BasicLogger::write(const LoggerComponent& component, int32_t level, const char* text) {
    try {
        LogLineParts parts{};
        parts.prefix = linePrefix(component, level, text);
        parts.withTime = headerSwitch("Clocktime_In_Header");
        parts.withProcessId = headerSwitch("Proc_Id_In_Header");
        parts.withThreadId = headerSwitch("Thread_Id_In_Header");
        SYSTEMTIME now;
        GetLocalTime(&now);
        parts.time = LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
        parts.processId = GetCurrentProcessId();
        parts.threadId = GetCurrentThreadId();
        parts.component = component.name();
        parts.componentWidth = componentWidth_;
        parts.text = text != nullptr ? text : "";
        parts.suffix = lineSuffix(component, level, text);
        append(formatLogLine(parts));
    } catch (const Exception&) {
    } catch (const std::exception&) {
        // A diagnostic line must never disturb its caller; it is lost.
    }
}

void BasicLogger::append(const std::string& text) {
    const std::string line = text.size() > maxFileBytes_ ? text.substr(0, static_cast<size_t>(maxFileBytes_)) : text;
    FileLock lock(mutex_.get(), section_);
    if (!lock.held()) return;
    // Handles stay with this process: a child started meanwhile must not inherit the log file.
    SECURITY_ATTRIBUTES attributes = {};
    if (security_) attributes = *security_->attributes();
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = FALSE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const auto open = [&] {
        {
            UniqueFileHandle existing(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, share, &attributes,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!existing) onMissingFile();
        }
        return UniqueFileHandle(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, share, &attributes,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueFileHandle file = open();
    if (!file) return;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) return;
    if (size.QuadPart > 0 && static_cast<uint64_t>(size.QuadPart) + line.size() > maxFileBytes_) {
        // Every writer opens the file per line and only under the lock, so no writer of ours
        // holds it now and the rename moves all of it.
        file.reset();
        if (!MoveFileExA(path_.c_str(), olderPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
        file = open();
        if (!file) return;
    }
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_END)) return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void BasicLogger::clear() {
    try {
        FileLock lock(mutex_.get(), section_);
        if (lock.held()) DeleteFileA(path_.c_str());
    } catch (const Exception&) {
    } catch (const std::exception&) {
    }
}

void BasicLogger::setting(const std::string&, int32_t& value, int32_t defaultValue) { value = defaultValue; }

void BasicLogger::onMissingFile() {}

std::string BasicLogger::linePrefix(const LoggerComponent&, int32_t, const char*) { return std::string(); }

std::string BasicLogger::lineSuffix(const LoggerComponent&, int32_t, const char*) { return std::string(); }

bool BasicLogger::headerSwitch(const std::string& name) {
    CriticalSectionLock lock(section_);
    const DWORD now = GetTickCount();
    const auto it = settingsCache_.find(name);
    if (it != settingsCache_.end() && now - it->second.tick < kSettingCacheMilliseconds) return it->second.value != 0;
    int32_t value = 1;
    setting(name, value, 1);
    settingsCache_[name] = CachedSetting{value, now};
    return value != 0;
}
