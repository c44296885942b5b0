#include "logging/LogLine.h"

#include <gtest/gtest.h>

namespace {
LogLineParts sampleParts() {
    LogLineParts p{};
    p.withTime = p.withProcessId = p.withThreadId = true;
    p.time = LogTime{2026, 12, 6, 18, 5, 38, 42};
    p.processId = 0xa1c;
    p.threadId = 0x1f04;
    p.component = "BidiService";
    p.componentWidth = 25;
    p.text = "+Service::OnStart";
    return p;
}
}  // namespace

TEST(LogLine, HeaderComponentColumnTextAndCrLf) {
    EXPECT_EQ(formatLogLine(sampleParts()),
              "2026/12/06-18:05:38.042 pid=0a1c tid=1f04 BidiService               +Service::OnStart\r\n");
}

TEST(LogLine, FieldVariants) {
    LogLineParts p = sampleParts();
    p.processId = 0xABCDEF12;
    p.threadId = 7;
    p.time = LogTime{999, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(formatLogLine(p), "0999/01/02-03:04:05.006 pid=abcdef12 tid=0007 BidiService               +Service::OnStart\r\n");

    p = sampleParts();
    p.component = "AComponentNameLongerThan25Chars";
    EXPECT_EQ(formatLogLine(p), "2026/12/06-18:05:38.042 pid=0a1c tid=1f04 AComponentNameLongerThan25Chars +Service::OnStart\r\n");

    p = sampleParts();
    p.component = "";
    p.text = "";
    EXPECT_EQ(formatLogLine(p), "2026/12/06-18:05:38.042 pid=0a1c tid=1f04 " + std::string(25, ' ') + " \r\n");

    p = sampleParts();
    p.withTime = false;
    p.withThreadId = false;
    p.prefix = "<";
    p.suffix = ">";
    p.indentation = "  ";
    EXPECT_EQ(formatLogLine(p), "<pid=0a1c BidiService                 +Service::OnStart>\r\n");
}

TEST(LogLine, FileLockAndSwitchNames) {
    EXPECT_EQ(composeLogPath("C:\\ProgramData\\", "Qv"), "C:\\ProgramData\\Qv__BcxComponents.log");
    EXPECT_EQ(composeLogPath("C:\\ProgramData\\", ""), "C:\\ProgramData\\BcxComponents.log");
    EXPECT_EQ(composeLogPath("", "Qv"), "Qv__BcxComponents.log");
    EXPECT_EQ(logLockName("C:\\ProgramData\\Qv__BcxComponents.log"), "QVLOG_Qv__BcxComponents.log");
    EXPECT_EQ(logLockName("plain.log"), "QVLOG_plain.log");
    EXPECT_EQ(logSwitchKeyPath("Quorvel"), "Software\\Quorvel\\BcxComponents\\");
    EXPECT_EQ(logSwitchKeyPath(""), "Software\\Quorvel\\BcxComponents\\");
    EXPECT_EQ(olderLogPath("C:\\ProgramData\\Qv__BcxComponents.log"), "C:\\ProgramData\\Qv__BcxComponents.old.log");
    EXPECT_EQ(olderLogPath("C:\\X\\TRACE.LOG"), "C:\\X\\TRACE.old.LOG");
    EXPECT_EQ(olderLogPath("C:\\X\\trace.txt"), "C:\\X\\trace.txt.old");
    EXPECT_EQ(olderLogPath("log"), "log.old");
}
