#include "logging/LogLine.h"

#include <cctype>
#include <iomanip>
#include <sstream>

std::string formatLogLine(const LogLineParts& parts) {
    std::ostringstream line;
    line << parts.prefix << std::setfill('0');
    if (parts.withTime) {
        const LogTime& t = parts.time;
        line << std::setw(4) << t.year << '/' << std::setw(2) << t.month << '/' << std::setw(2) << t.day << '-'
             << std::setw(2) << t.hour << ':' << std::setw(2) << t.minute << ':' << std::setw(2) << t.second << '.'
             << std::setw(3) << t.milliseconds << ' ';
    }
    line << std::hex << std::nouppercase;
    if (parts.withProcessId) line << "pid=" << std::setw(4) << parts.processId << ' ';
    if (parts.withThreadId) line << "tid=" << std::setw(4) << parts.threadId << ' ';
    line << std::dec << std::setfill(' ') << std::left << std::setw(parts.componentWidth) << parts.component << ' '
         << parts.indentation << parts.text << parts.suffix << "\r\n";
    return line.str();
}

std::string composeLogPath(const std::string& folder, const std::string& prefix) {
    std::string path = folder;
    if (!prefix.empty()) path += prefix + "__";
    return path + "BcxComponents.log";
}

std::string olderLogPath(const std::string& path) {
    const std::string extension = ".log";
    if (path.size() >= extension.size()) {
        const std::string::size_type at = path.size() - extension.size();
        bool matches = true;
        for (std::string::size_type i = 0; i < extension.size(); ++i)
            matches = matches && std::tolower(static_cast<unsigned char>(path[at + i])) == extension[i];
        if (matches) return path.substr(0, at) + ".old" + path.substr(at);
    }
    return path + ".old";
}

std::string logLockName(const std::string& path) {
    const std::string::size_type slash = path.rfind('\\');
    return "QVLOG_" + (slash == std::string::npos ? path : path.substr(slash + 1));
}

std::string logSwitchKeyPath(const std::string& shortName) {
    return "Software\\" + (shortName.empty() ? std::string("Quorvel") : shortName) + "\\BcxComponents\\";
}
