#pragma once
// The process-wide entry for diagnostic lines. log() writes a line only while the registry
// switch "startLog" (HKEY_LOCAL_MACHINE\Software\<short name>\BcxComponents\) is above 0, read
// at every call. The switch's key stays open between lines, so a line costs one registry query
// instead of an open, a query and a close; a key deleted meanwhile is opened again by path, so
// the value read is always the one in the registry at that moment. The first line of the process
// creates the one writer, on the file named by the prefix of that moment, and every later line
// goes to it. Any thread may log; log() never raises and blocks at most
// BasicLogger::kLockWaitMilliseconds on the shared file.
#include "logging/BasicLogger.h"

#include "runtime/CriticalSection.h"
#include "runtime/UniqueHandle.h"

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

    // Whether the switch is on now; false when it cannot be read.
    bool isEnabled() const;
    // The expansion of "%ALLUSERSPROFILE%\" + [prefix + "__"] + "BcxComponents.log".
    std::string logPath() const;

    static constexpr int32_t kComponentWidth = 25;

private:
    // The "startLog" value under the open switch key: on only for a REG_DWORD above 0; KeyGone
    // when the key behind the handle was deleted. Called with switchSection_ held.
    enum class SwitchRead { On, Off, KeyGone };
    bool switchIsOn(const std::string& path) const;
    SwitchRead readSwitch() const;

    mutable CriticalSection section_;
    mutable CriticalSection switchSection_;
    mutable std::string switchPath_;
    mutable UniqueRegKey switchKey_;
    std::string prefix_;
    std::string shortName_;
};
