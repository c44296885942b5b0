#pragma once
// The process-wide entry for diagnostic lines. log() writes a line only while the registry
// switch "startLog" (HKEY_LOCAL_MACHINE\Software\<short name>\BcxComponents\) is above 0. The
// switch is read once and again whenever the registry reports a change of its key (see
// RegistryWatch), so a line costs no system call while logging is off, and switching logging on
// or off takes effect at the first line after the change has been reported. Callers that build a
// line's text ask isEnabled() first, so that the text is built only when it is written. The first
// line of the process creates the one writer, on the file named by the prefix of that moment, and
// every later line goes to it. Any thread may log; log() never raises and blocks at most
// BasicLogger::kLockWaitMilliseconds on the shared file.
#include "config/RegistryWatch.h"
#include "logging/BasicLogger.h"

#include "runtime/CriticalSection.h"
#include "runtime/UniqueHandle.h"

#include <memory>
#include <string>

class LogFacade {
public:
    static LogFacade& getInstance();
    // Deletes the facade; the next getInstance() makes a fresh one (empty prefix and short
    // name). The writer stays. No thread may be inside log() meanwhile.
    static void destroyInstance();
    // The process-wide writer, or nullptr before the first line.
    static BasicLogger* writer();

    LogFacade();

    void log(const std::string& component, const std::string& text);

    // The branding's ManufacturerPrefix (names the file) and ManufacturerShortName (names the
    // switch key); both start empty.
    void setPrefix(const std::string& prefix);
    void setShortName(const std::string& shortName);
    std::string prefix() const;
    std::string shortName() const;

    // Whether the switch is on; false when it cannot be read.
    bool isEnabled() const;
    // The watch on the switch's key (for waiting until a change has been reported).
    uint64_t switchStamp() const;
    bool waitForSwitchChange(uint64_t since, uint32_t timeoutMs) const;
    // The expansion of "%ALLUSERSPROFILE%\" + [prefix + "__"] + "BcxComponents.log".
    std::string logPath() const;

    static constexpr int32_t kComponentWidth = 25;

private:
    // The "startLog" value under the open switch key: on only for a REG_DWORD above 0; KeyGone
    // when the key behind the handle was deleted. Called with switchSection_ held.
    enum class SwitchRead { On, Off, KeyGone };
    bool switchIsOn() const;
    SwitchRead readSwitch() const;

    // The watch on the key of path, made or replaced as the short name requires (switchSection_).
    RegistryWatch& watchLocked(const std::string& path) const;

    mutable CriticalSection section_;
    mutable CriticalSection switchSection_;
    std::string switchPath_;  // of the short name, under switchSection_
    mutable UniqueRegKey switchKey_;
    mutable std::unique_ptr<RegistryWatch> watch_;
    mutable std::string watchFor_;
    mutable uint64_t readUnder_ = 0;  // the watch's stamp when on_ was read
    mutable bool on_ = false;
    std::string prefix_;
    std::string shortName_;
};
