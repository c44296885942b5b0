#pragma once
// The process-wide entry for diagnostic lines. log() writes a line only while the registry
// switch "startLog" (HKEY_LOCAL_MACHINE\Software\<short name>\BcxComponents\) is above 0, read
// at every call. The first line of the process creates the one writer, on the file named by
// the prefix of that moment, and every later line goes to it. Any thread may log; log() never
// raises and blocks at most BasicLogger::kLockWaitMilliseconds on the shared file.
#include "logging/BasicLogger.h"

#include "runtime/CriticalSection.h"

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
    mutable CriticalSection section_;
    std::string prefix_;
    std::string shortName_;
};
