#include "LoggingTestSupport.h"
#include "logging/BasicLogger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>

namespace {

// A log file of the test's own in the temporary folder, removed afterwards.
class BasicLoggerTest : public ::testing::Test {
protected:
    BasicLoggerTest() {
        char temp[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathA(MAX_PATH, temp);
        fileName_ = logtest::uniqueName("tolvex-log-") + ".log";
        path_ = std::string(temp, n) + fileName_;
    }
    ~BasicLoggerTest() override { DeleteFileA(path_.c_str()); }

    static std::string stamp(const SYSTEMTIME& t) {
        char text[32];
        std::snprintf(text, sizeof text, "%04u/%02u/%02u-%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond, t.wMilliseconds);
        return text;
    }
    static std::string hex(DWORD value) {
        char text[16];
        std::snprintf(text, sizeof text, "%04lx", static_cast<unsigned long>(value));
        return text;
    }

    std::string fileName_;
    std::string path_;
};

// Switches the process id off, adds a prefix and a suffix, and counts what it is asked.
class RefinedLogger : public BasicLogger {
public:
    using BasicLogger::BasicLogger;
    void setting(const std::string& name, int32_t& value, int32_t defaultValue) override {
        ++asked[name];
        value = name == "Proc_Id_In_Header" ? 0 : defaultValue;
    }
    void onMissingFile() override { ++missing; }
    std::string linePrefix(const LoggerComponent& component, int32_t, const char*) override {
        return "[" + component.name() + "]";
    }
    std::string lineSuffix(const LoggerComponent&, int32_t level, const char*) override {
        return " <" + std::to_string(level) + ">";
    }
    std::map<std::string, int> asked;
    int missing = 0;
};

}  // namespace

TEST_F(BasicLoggerTest, LineFormatFieldByField) {
    BasicLogger logger(path_, 25);
    EXPECT_EQ(logger.path(), path_);
    EXPECT_EQ(logger.lockName(), "QVLOG_" + fileName_);
    EXPECT_FALSE(logtest::fileExists(path_));

    SYSTEMTIME before;
    GetLocalTime(&before);
    logger.write(LoggerComponent("BidiService", 1), 1, "+Service::OnStart");
    logger.write(LoggerComponent("AComponentNameOf30Characters__", 1), 1, std::string("-Service::OnStart rc: 0"));
    logger.write(LoggerComponent("BidiComponent", 1), 1, "");
    SYSTEMTIME after;
    GetLocalTime(&after);

    const std::string content = logtest::readFile(path_);
    ASSERT_GE(content.size(), 2u);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    const std::vector<std::string> lines = logtest::splitLines(content);
    ASSERT_EQ(lines.size(), 3u) << content;
    const std::regex header(R"(^(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{3}) pid=([0-9a-f]{4,}) tid=([0-9a-f]{4,}) (.*)$)");
    const char* components[] = {"BidiService", "AComponentNameOf30Characters__", "BidiComponent"};
    const char* texts[] = {"+Service::OnStart", "-Service::OnStart rc: 0", ""};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find('\n'), std::string::npos);
        EXPECT_EQ(lines[i].find('\r'), std::string::npos);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, header)) << lines[i];
        EXPECT_GE(m[1].str(), stamp(before));
        EXPECT_LE(m[1].str(), stamp(after));
        EXPECT_EQ(m[2].str(), hex(GetCurrentProcessId()));
        EXPECT_EQ(m[3].str(), hex(GetCurrentThreadId()));
        const std::string rest = m[4].str();
        const std::string name = components[i];
        const size_t column = std::max<size_t>(25, name.size());
        ASSERT_GT(rest.size(), column);
        EXPECT_EQ(rest.substr(0, column), name + std::string(column - name.size(), ' '));
        EXPECT_EQ(rest[column], ' ');
        EXPECT_EQ(rest.substr(column + 1), texts[i]);
    }
}

TEST_F(BasicLoggerTest, RefinementsChangeHeaderPrefixAndSuffix) {
    RefinedLogger logger(path_, 12);
    logger.write(LoggerComponent("Svc", 1), 3, "one");
    logger.write(LoggerComponent("Svc", 1), 3, "two");
    EXPECT_EQ(logger.missing, 1);  // only while the file did not exist
    // Within five seconds each switch is asked once.
    EXPECT_EQ(logger.asked["Clocktime_In_Header"], 1);
    EXPECT_EQ(logger.asked["Proc_Id_In_Header"], 1);
    EXPECT_EQ(logger.asked["Thread_Id_In_Header"], 1);
    const std::vector<std::string> lines = logtest::splitLines(logtest::readFile(path_));
    ASSERT_EQ(lines.size(), 2u);
    const std::regex line(R"(^\[Svc\]\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{3} tid=([0-9a-f]{4,}) Svc          (\w+) <3>$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, line)) << lines[0];
    EXPECT_EQ(m[2].str(), "one");
    ASSERT_TRUE(std::regex_match(lines[1], m, line)) << lines[1];
    EXPECT_EQ(m[2].str(), "two");
}

TEST_F(BasicLoggerTest, WritesWithoutAMutexWhenTheNameIsTaken) {
    // Another kind of object holds the lock's name: the mutex cannot be created.
    UniqueHandle squatter(CreateEventA(nullptr, TRUE, FALSE, ("QVLOG_" + fileName_).c_str()));
    ASSERT_TRUE(squatter.valid());
    BasicLogger logger(path_, 25);
    EXPECT_EQ(logger.lockName(), "");
    logger.write(LoggerComponent("BidiService", 1), 1, "still written");
    const std::vector<std::string> lines = logtest::splitLines(logtest::readFile(path_));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("still written"), std::string::npos);
}

TEST_F(BasicLoggerTest, ClearDeletesTheFileAndAPlainNameGoesToTheWindowsDrive) {
    BasicLogger logger(path_, 25);
    logger.write(LoggerComponent("BidiService", 1), 1, "x");
    ASSERT_TRUE(logtest::fileExists(path_));
    logger.clear();
    EXPECT_FALSE(logtest::fileExists(path_));
    logger.write(LoggerComponent("BidiService", 1), 1, "y");
    EXPECT_EQ(logtest::splitLines(logtest::readFile(path_)).size(), 1u);

    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    BasicLogger plain(fileName_, 25);
    EXPECT_EQ(plain.path(), std::string(windows, 3) + fileName_);
    EXPECT_EQ(plain.lockName(), "QVLOG_" + fileName_);
}

// Two processes write through loggers with a small cap, one of them while rotations happen in
// the other: both files stay under the cap, every line is whole, and what is left of each
// writer is an unbroken run of its last lines (a rotation outside the lock, or a second rename
// of a file another process just started, would lose lines in the middle or let a file grow).
TEST_F(BasicLoggerTest, RotationAtTheCapKeepsTheNewestLinesAcrossProcesses) {
    const uint64_t cap = 4000;
    const int count = 300;
    const std::string olderPath = path_.substr(0, path_.size() - 4) + ".old.log";
    const std::string ready[2] = {logtest::uniqueName("tolvex-ready-a-"), logtest::uniqueName("tolvex-ready-b-")};
    const std::string startName = logtest::uniqueName("tolvex-start-");
    UniqueHandle start(CreateEventA(nullptr, TRUE, FALSE, startName.c_str()));
    UniqueHandle readyEvents[2];
    UniqueHandle helpers[2];
    const char* tags[2] = {"first", "second"};
    for (int i = 0; i < 2; ++i) {
        readyEvents[i].reset(CreateEventA(nullptr, TRUE, FALSE, ready[i].c_str()));
        helpers[i] = logtest::startHelper("--helper capped \"" + path_ + "\" " + std::to_string(cap) + " " + ready[i] + " " +
                                          startName + " " + std::to_string(count) + " " + tags[i]);
        ASSERT_TRUE(helpers[i].valid());
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readyEvents[i].get(), 30000));
    }
    SetEvent(start.get());
    for (const UniqueHandle& helper : helpers) EXPECT_EQ(0u, logtest::waitHelper(helper, 60000));

    const std::string older = logtest::readFile(olderPath);
    const std::string current = logtest::readFile(path_);
    DeleteFileA(olderPath.c_str());
    EXPECT_LE(older.size(), cap);
    EXPECT_LE(current.size(), cap);
    EXPECT_GT(older.size(), cap / 2) << "the file was never rotated";
    std::vector<std::string> lines = logtest::splitLines(older);
    const std::vector<std::string> newer = logtest::splitLines(current);
    lines.insert(lines.end(), newer.begin(), newer.end());
    const std::regex whole(R"(^\d{4}/\d{2}/\d{2}-\S+ pid=[0-9a-f]+ tid=[0-9a-f]+ BidiService +(first|second) (\d+)$)");
    std::map<std::string, std::vector<int>> seen;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        seen[m[1].str()].push_back(std::stoi(m[2].str()));
    }
    for (const auto& writer : seen) {
        const std::vector<int>& numbers = writer.second;
        EXPECT_EQ(count - 1, numbers.back()) << writer.first;
        for (size_t i = 1; i < numbers.size(); ++i) ASSERT_EQ(numbers[i - 1] + 1, numbers[i]) << writer.first;
    }
}

// A reader that keeps the full file open without delete sharing blocks the rename: lines are
// dropped rather than let the file pass its cap, and writing resumes once the reader lets go.
TEST_F(BasicLoggerTest, ALineThatWouldPassTheCapIsDroppedWhileTheFileCannotBeRotated) {
    BasicLogger logger(path_, 25, 300);
    EXPECT_EQ(path_.substr(0, path_.size() - 4) + ".old.log", logger.olderPath());
    for (int i = 0; i < 3; ++i) logger.write(LoggerComponent("BidiService", 1), 1, "line " + std::to_string(i));
    const size_t full = logtest::readFile(path_).size();
    ASSERT_LE(full, 300u);
    {
        UniqueFileHandle reader(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader.valid());
        for (int i = 3; i < 8; ++i) logger.write(LoggerComponent("BidiService", 1), 1, "line " + std::to_string(i));
        EXPECT_LE(logtest::readFile(path_).size(), 300u);
    }
    logger.write(LoggerComponent("BidiService", 1), 1, "after the reader");
    const std::string current = logtest::readFile(path_);
    EXPECT_NE(std::string::npos, current.find("after the reader"));
    EXPECT_LE(current.size(), 300u);
    EXPECT_NE(std::string::npos, logtest::readFile(logger.olderPath()).find("line "));
    DeleteFileA(logger.olderPath().c_str());
}
