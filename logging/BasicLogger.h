#pragma once
// Appends whole lines to one text file that every process of the family shares. Lines are
// serialised across threads and processes by the named mutex "QVLOG_<file name>"; a writer
// waits for it at most kLockWaitMilliseconds (another user's process may hold it) and then
// drops the line. The file never grows past its cap: the line that would pass it first renames
// the file to its older name (replacing the one before) and starts a new one, under the same
// lock, so writers in other processes never see a half-rotated pair. When the rename fails (a
// reader holds the file without delete sharing) the line is dropped and the next one tries
// again. Any thread may write; nothing here raises: a line that cannot be written is lost and
// nothing else is affected.
#include "logging/LoggerComponent.h"
#include "runtime/CriticalSection.h"
#include "runtime/Mutex.h"
#include "runtime/Security.h"
#include "runtime/Win32.h"

#include <map>
#include <memory>
#include <string>

class BasicLogger {
public:
    static constexpr DWORD kLockWaitMilliseconds = 1500;
    // The size at which the file is rotated; a single longer line is cut to it.
    static constexpr uint64_t kMaxFileBytes = 10 * 1024 * 1024;

    // A path without "\" is placed at the root of the Windows drive. When the mutex cannot be
    // created the writer still writes, serialised within this process only.
    BasicLogger(const std::string& path, int32_t componentWidth, uint64_t maxFileBytes = kMaxFileBytes);
    virtual ~BasicLogger();
    BasicLogger(const BasicLogger&) = delete;
    BasicLogger& operator=(const BasicLogger&) = delete;

    virtual void write(const LoggerComponent& component, int32_t level, const std::string& text);
    // Formats and appends one line (header, component column, text, CR LF) in one write.
    virtual void write(const LoggerComponent& component, int32_t level, const char* text);
    // Deletes the file under the file lock.
    virtual void clear();
    // The value of a header switch ("Clocktime_In_Header", "Proc_Id_In_Header",
    // "Thread_Id_In_Header"); this writer keeps every one at its default (on).
    virtual void setting(const std::string& name, int32_t& value, int32_t defaultValue);
    // Called under the file lock when the file does not exist yet, before it is created.
    virtual void onMissingFile();
    virtual std::string linePrefix(const LoggerComponent& component, int32_t level, const char* text);
    virtual std::string lineSuffix(const LoggerComponent& component, int32_t level, const char* text);

    const std::string& path() const { return path_; }
    // Where the file goes when it reaches its cap (see olderLogPath).
    const std::string& olderPath() const { return olderPath_; }
    // The file lock's name; empty when the writer holds no mutex.
    std::string lockName() const;

private:
    // A header switch, asked of setting() at most every 5 seconds.
    bool headerSwitch(const std::string& name);
    void append(const std::string& text);

    std::unique_ptr<Mutex> mutex_;
    std::string path_;
    std::string olderPath_;
    int32_t componentWidth_;
    uint64_t maxFileBytes_;
    CriticalSection section_;  // the settings cache; the file itself when there is no mutex
    std::unique_ptr<SecurityEveryone> security_;
    struct CachedSetting {
        int32_t value;
        DWORD tick;
    };
    std::map<std::string, CachedSetting> settingsCache_;
};
