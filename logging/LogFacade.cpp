#include "logging/LogFacade.h"

#include "logging/LogLine.h"
#include "runtime/Exception.h"
#include "runtime/ProcessSingleton.h"

#include <atomic>
#include <exception>

namespace {

ProcessSingleton<LogFacade>& facadeSingleton() {
    static ProcessSingleton<LogFacade> singleton;
    return singleton;
}

// The writer lives until the process ends: lines logged during and after the teardown of the
// service environment still reach it. Two threads logging their first lines at once create it
// once, under the lock; later lines find it without taking the lock.
struct WriterHolder {
    CriticalSection section;
    std::atomic<BasicLogger*> writer{nullptr};
    ~WriterHolder() { delete writer.load(); }

    template <typename Create>
    BasicLogger& get(Create&& create) {
        BasicLogger* existing = writer.load(std::memory_order_acquire);
        if (existing != nullptr) return *existing;
        CriticalSectionLock lock(section);
        existing = writer.load(std::memory_order_relaxed);
        if (existing == nullptr) {
            existing = create();
            writer.store(existing, std::memory_order_release);
        }
        return *existing;
    }
};

WriterHolder& writerHolder() {
    static WriterHolder holder;
    return holder;
}

std::string expandAllUsersProfile() {
    const char pattern[] = "%ALLUSERSPROFILE%\\";
    const DWORD size = ExpandEnvironmentStringsA(pattern, nullptr, 0);
    if (size == 0) return std::string();
    std::string expanded(size, '\0');
    const DWORD n = ExpandEnvironmentStringsA(pattern, &expanded[0], size);
    if (n == 0 || n > size) return std::string();
    expanded.resize(n - 1);
    return expanded;
}

}  // namespace

LogFacade& LogFacade::getInstance() { return facadeSingleton().get(); }

void LogFacade::destroyInstance() { facadeSingleton().destroy(); }

BasicLogger* LogFacade::writer() {
    return writerHolder().writer.load(std::memory_order_acquire);
}

LogFacade::LogFacade() : switchPath_(logSwitchKeyPath(std::string())) {}

void LogFacade::setPrefix(const std::string& prefix) {
    CriticalSectionLock lock(section_);
    prefix_ = prefix;
}

void LogFacade::setShortName(const std::string& shortName) {
    {
        CriticalSectionLock lock(section_);
        shortName_ = shortName;
    }
    // The switch's path is kept with it, so that a line need not compose it.
    const std::string path = logSwitchKeyPath(shortName);
    CriticalSectionLock lock(switchSection_);
    if (path != switchPath_) {
        switchKey_.reset();
        switchPath_ = path;
    }
}

std::string LogFacade::prefix() const {
    CriticalSectionLock lock(section_);
    return prefix_;
}

std::string LogFacade::shortName() const {
    CriticalSectionLock lock(section_);
    return shortName_;
}

bool LogFacade::isEnabled() const {
    try {
        return switchIsOn();
    } catch (const Exception&) {
        return false;
    } catch (const std::exception&) {
        // A failure to read the switch counts as the switch being off.
        return false;
    }
}

RegistryWatch& LogFacade::watchLocked(const std::string& path) const {
    if (!watch_ || watchFor_ != path) {
        watch_.reset(new RegistryWatch(path));
        watchFor_ = path;
        readUnder_ = 0;
    }
    return *watch_;
}

uint64_t LogFacade::switchStamp() const {
    CriticalSectionLock lock(switchSection_);
    return watchLocked(switchPath_).stamp();
}

bool LogFacade::waitForSwitchChange(uint64_t since, uint32_t timeoutMs) const {
    RegistryWatch* watch = nullptr;
    {
        CriticalSectionLock lock(switchSection_);
        watch = &watchLocked(switchPath_);
    }
    // The watch stays while the short name does; tests change it only between waits.
    return watch->waitForChange(since, timeoutMs);
}

bool LogFacade::switchIsOn() const {
    CriticalSectionLock lock(switchSection_);
    const std::string& path = switchPath_;
    // Read under the stamp taken before the read: a change during it moves the stamp on and
    // makes the next line read again.
    const uint64_t stamp = watchLocked(path).stamp();
    if (stamp != 0 && stamp == readUnder_) return on_;
    on_ = false;
    readUnder_ = stamp;
    if (switchKey_) {
        const SwitchRead read = readSwitch();
        if (read != SwitchRead::KeyGone) {
            on_ = read == SwitchRead::On;
            return on_;
        }
        switchKey_.reset();
    }
    // No key open yet, or the open one was deleted: open it by path. A missing key leaves
    // nothing open, so the next read looks for it again. Read access is all the switch needs;
    // asking for more would keep a process without write rights on the key from ever logging.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    switchKey_.reset(key);
    on_ = readSwitch() == SwitchRead::On;
    return on_;
}

LogFacade::SwitchRead LogFacade::readSwitch() const {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG rc = RegQueryValueExA(switchKey_.get(), "startLog", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc == ERROR_SUCCESS) {
        return type == REG_DWORD && size == sizeof value && static_cast<int32_t>(value) > 0 ? SwitchRead::On : SwitchRead::Off;
    }
    // Absent, or too long for a REG_DWORD: off, and the key is still there. Any other failure
    // (ERROR_KEY_DELETED above all) means the handle no longer names the live key.
    return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_MORE_DATA ? SwitchRead::Off : SwitchRead::KeyGone;
}

std::string LogFacade::logPath() const { return composeLogPath(expandAllUsersProfile(), prefix()); }

void LogFacade::log(const std::string& component, const std::string& text) {
    try {
        if (!isEnabled()) return;
        BasicLogger& logger = writerHolder().get([this] { return new BasicLogger(logPath(), kComponentWidth); });
        logger.write(LoggerComponent(component, 1), 1, text);
    } catch (const Exception&) {
    } catch (const std::exception&) {
        // Logging never disturbs the caller.
    }
}
