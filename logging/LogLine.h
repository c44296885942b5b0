#pragma once
// The text of one log line and the names of the shared log file and its lock. Portable.
#include <cstdint>
#include <string>

struct LogTime {
    int year, month, day, hour, minute, second, milliseconds;
};

struct LogLineParts {
    std::string prefix;  // before everything else
    bool withTime;
    LogTime time;
    bool withProcessId;
    uint32_t processId;
    bool withThreadId;
    uint32_t threadId;
    std::string component;
    int componentWidth;  // the name is left-justified in this width, never cut
    std::string indentation;
    std::string text;
    std::string suffix;  // after the text, before CR LF
};

// "2026/12/06-18:05:38.042 pid=0a1c tid=1f04 BidiService<blanks to 25> text" + CR LF.
std::string formatLogLine(const LogLineParts& parts);

// The shared file: folder (the expansion of "%ALLUSERSPROFILE%\"), then prefix + "__" unless
// the prefix is empty, then "BcxComponents.log".
std::string composeLogPath(const std::string& folder, const std::string& prefix);

// Where a log file goes when it reaches its size cap: ".log" at the end becomes ".old.log"
// (without regard to case); any other path gets ".old" appended.
std::string olderLogPath(const std::string& path);

// "QVLOG_" + the part of the path after its last "\" (the whole path when there is none).
std::string logLockName(const std::string& path);

// HKEY_LOCAL_MACHINE path of the "startLog" switch: "Software\" + short name + "\BcxComponents\",
// an empty short name read as "Quorvel".
std::string logSwitchKeyPath(const std::string& shortName);
