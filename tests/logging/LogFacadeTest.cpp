#include "LoggingTestSupport.h"
#include "logging/LogFacade.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <regex>
#include <thread>

namespace {

const std::regex kLine(R"(^\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{3} pid=([0-9a-f]{4,}) tid=[0-9a-f]{4,} (\S+) +(.*)$)");

// The log of this run (prefix and short name set in main()), switched on for the case.
class LogFacadeTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = LogFacade::getInstance().logPath();
        ASSERT_NE(path_.find(logtest::runPrefix() + "__BcxComponents.log"), std::string::npos) << path_;
        changeSwitch([] { logtest::setSwitch(logtest::runShortName(), 1); });
    }
    void TearDown() override { logtest::removeSwitch(logtest::runShortName()); }

    // Makes a change of the switch and waits (bounded) until the facade has been told of it.
    void changeSwitch(const std::function<void()>& change) {
        const uint64_t before = LogFacade::getInstance().switchStamp();
        change();
        ASSERT_TRUE(LogFacade::getInstance().waitForSwitchChange(before, 5000));
    }

    // Every line of the file whole and well-formed; the texts per component, in file order.
    std::map<std::string, std::vector<std::string>> linesByComponent(std::map<std::string, std::string>* pids = nullptr) {
        std::map<std::string, std::vector<std::string>> result;
        const std::string content = logtest::readFile(path_);
        EXPECT_TRUE(content.empty() || content.substr(content.size() - 2) == "\r\n");
        for (const std::string& line : logtest::splitLines(content)) {
            std::smatch m;
            if (!std::regex_match(line, m, kLine)) {
                ADD_FAILURE() << "broken line: " << line;
                continue;
            }
            result[m[2].str()].push_back(m[3].str());
            if (pids != nullptr) (*pids)[m[2].str()] = m[1].str();
        }
        return result;
    }

    static std::vector<std::string> numbered(const std::string& stem, int count) {
        std::vector<std::string> texts;
        for (int i = 0; i < count; ++i) texts.push_back(stem + std::to_string(i));
        return texts;
    }

    std::string path_;
};

std::string hexId(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04lx", static_cast<unsigned long>(value));
    return text;
}

}  // namespace

TEST_F(LogFacadeTest, AChangeOfTheSwitchTakesEffectAtTheNextLineOnceReported) {
    LogFacade& facade = LogFacade::getInstance();
    const std::string start = logtest::readFile(path_);
    const bool existed = logtest::fileExists(path_);
    const std::string name = logtest::runShortName();

    changeSwitch([&] { logtest::removeSwitch(name); });
    EXPECT_FALSE(facade.isEnabled());
    facade.log("BidiService", "while the key is missing");
    changeSwitch([&] { logtest::setSwitch(name, 0); });
    EXPECT_FALSE(facade.isEnabled());
    facade.log("BidiService", "while the switch is 0");
    EXPECT_EQ(logtest::fileExists(path_), existed);
    EXPECT_EQ(logtest::readFile(path_), start);

    changeSwitch([&] { logtest::setSwitch(name, 1); });
    facade.log("BidiService", "after the switch went on");
    const std::string on = logtest::readFile(path_);
    ASSERT_GT(on.size(), start.size());
    EXPECT_EQ(on.substr(0, start.size()), start);
    EXPECT_NE(on.find("BidiService               after the switch went on\r\n", start.size()), std::string::npos);

    changeSwitch([&] { logtest::setSwitch(name, 0); });
    facade.log("BidiService", "after the switch went off");
    EXPECT_EQ(logtest::readFile(path_), on);
    ASSERT_NE(LogFacade::writer(), nullptr);
    EXPECT_EQ(LogFacade::writer()->path(), path_);
}

// The switch key stays open between reads; these are the ways the registry can change under it.
TEST_F(LogFacadeTest, TheSwitchFollowsTheRegistryWhileItsKeyIsKeptOpen) {
    LogFacade& facade = LogFacade::getInstance();
    const std::string name = logtest::runShortName();
    ASSERT_TRUE(facade.isEnabled());

    // Deleted under the open handle, then made again with the switch on.
    changeSwitch([&] { logtest::removeSwitch(name); });
    EXPECT_FALSE(facade.isEnabled());
    changeSwitch([&] { logtest::setSwitch(name, 1); });
    EXPECT_TRUE(facade.isEnabled());
    changeSwitch([&] {
        logtest::removeSwitch(name);
        logtest::setSwitch(name, 0);
    });
    EXPECT_FALSE(facade.isEnabled());
    changeSwitch([&] { logtest::setSwitch(name, 1); });
    EXPECT_TRUE(facade.isEnabled());

    // A value of another type, or a negative one, is off; the key stays usable afterwards.
    const std::string keyPath = "Software\\" + name + "\\BcxComponents\\";
    changeSwitch([&] {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, keyPath.c_str(), "startLog", REG_SZ, "1", 2), ERROR_SUCCESS);
    });
    EXPECT_FALSE(facade.isEnabled());
    const DWORD negative = 0xFFFFFFFF;
    changeSwitch([&] {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, keyPath.c_str(), "startLog", REG_DWORD, &negative, sizeof negative),
                  ERROR_SUCCESS);
    });
    EXPECT_FALSE(facade.isEnabled());
    changeSwitch([&] { logtest::setSwitch(name, 7); });
    EXPECT_TRUE(facade.isEnabled());

    // Another short name reads its own key, and coming back reads this one again.
    const std::string other = name + "Other";
    logtest::setSwitch(other, 0);
    facade.setShortName(other);
    EXPECT_FALSE(facade.isEnabled());
    changeSwitch([&] { logtest::setSwitch(other, 1); });
    EXPECT_TRUE(facade.isEnabled());
    logtest::setSwitch(name, 0);
    EXPECT_TRUE(facade.isEnabled());
    facade.setShortName(name);
    EXPECT_FALSE(facade.isEnabled());
    logtest::removeSwitch(other);
}

// Many threads asking while the key is deleted and made again (the open handle is replaced under
// them): nothing breaks, and after the churn the answer is the registry's.
TEST_F(LogFacadeTest, TheSwitchIsSafeToReadFromManyThreadsWhileTheKeyChanges) {
    LogFacade& facade = LogFacade::getInstance();
    const std::string name = logtest::runShortName();
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                (void)facade.isEnabled();
                reads.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 40; ++round) {
        logtest::removeSwitch(name);
        logtest::setSwitch(name, round % 2);
    }
    stop = true;
    for (std::thread& t : readers) t.join();
    EXPECT_GT(reads.load(), 0);
    // Round 39 left the switch at 1 (writing a value unchanged reports nothing).
    changeSwitch([&] { logtest::setSwitch(name, 0); });
    EXPECT_FALSE(facade.isEnabled());
    changeSwitch([&] { logtest::setSwitch(name, 1); });
    EXPECT_TRUE(facade.isEnabled());
}

TEST_F(LogFacadeTest, AFreshFacadeAfterTeardownKeepsTheWriter) {
    LogFacade::getInstance().log("BidiService", "before teardown");
    BasicLogger* writer = LogFacade::writer();
    ASSERT_NE(writer, nullptr);
    LogFacade::destroyInstance();
    EXPECT_EQ(LogFacade::getInstance().prefix(), "");
    EXPECT_EQ(LogFacade::getInstance().shortName(), "");
    EXPECT_EQ(LogFacade::writer(), writer);
    LogFacade::getInstance().setPrefix(logtest::runPrefix());
    LogFacade::getInstance().setShortName(logtest::runShortName());
    LogFacade::getInstance().log("BidiService", "after teardown");
    EXPECT_EQ(linesByComponent()["BidiService"].back(), "after teardown");
}

TEST_F(LogFacadeTest, LinesOfTwoThreadsNeverInterleave) {
    const int count = 300;
    std::thread service([&] {
        for (const std::string& text : numbered("service line ", count)) LogFacade::getInstance().log("BidiService", text);
    });
    std::thread usb([&] {
        for (const std::string& text : numbered("usb line ", count)) LogFacade::getInstance().log("BidiComponent", text);
    });
    service.join();
    usb.join();
    auto lines = linesByComponent();
    std::vector<std::string> serviceLines;
    for (const std::string& text : lines["BidiService"])
        if (text.rfind("service line ", 0) == 0) serviceLines.push_back(text);
    EXPECT_EQ(serviceLines, numbered("service line ", count));
    EXPECT_EQ(lines["BidiComponent"], numbered("usb line ", count));
}

TEST_F(LogFacadeTest, LinesOfTwoProcessesNeverInterleave) {
    const int count = 300;
    const std::string readyName = logtest::uniqueName("TolvexLogReady");
    const std::string startName = logtest::uniqueName("TolvexLogStart");
    UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    UniqueHandle start(CreateEventA(nullptr, TRUE, FALSE, startName.c_str()));
    ASSERT_TRUE(ready && start);
    UniqueHandle helper = logtest::startHelper("--helper write " + logtest::runPrefix() + " " + logtest::runShortName() +
                                               " " + readyName + " " + startName + " " + std::to_string(count) +
                                               " HelperProcess");
    ASSERT_TRUE(helper.valid());
    ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
    SetEvent(start.get());
    for (const std::string& text : numbered("own line ", count)) LogFacade::getInstance().log("OwnProcess", text);
    ASSERT_EQ(logtest::waitHelper(helper, 60000), 0u);

    std::map<std::string, std::string> pids;
    auto lines = linesByComponent(&pids);
    EXPECT_EQ(lines["OwnProcess"], numbered("own line ", count));
    EXPECT_EQ(lines["HelperProcess"], numbered("helper line ", count));
    EXPECT_EQ(pids["OwnProcess"], hexId(GetCurrentProcessId()));
    EXPECT_NE(pids["HelperProcess"], pids["OwnProcess"]);
}

TEST_F(LogFacadeTest, AHeldLogMutexDelaysALineByNoMoreThanTheBound) {
    LogFacade& facade = LogFacade::getInstance();
    facade.log("BidiService", "before the hold");
    ASSERT_NE(LogFacade::writer(), nullptr);
    const std::string lockName = LogFacade::writer()->lockName();
    ASSERT_FALSE(lockName.empty());

    const std::string readyName = logtest::uniqueName("TolvexHoldReady");
    const std::string releaseName = logtest::uniqueName("TolvexHoldRelease");
    UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str()));
    ASSERT_TRUE(ready && release);
    UniqueHandle helper = logtest::startHelper("--helper hold " + lockName + " " + readyName + " " + releaseName);
    ASSERT_TRUE(helper.valid());
    ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);

    const DWORD begin = GetTickCount();
    facade.log("BidiService", "while another process holds the lock");
    const DWORD elapsed = GetTickCount() - begin;
    SetEvent(release.get());
    EXPECT_EQ(logtest::waitHelper(helper, 30000), 0u);
    // The tick count moves in steps of up to 16 ms.
    EXPECT_GE(elapsed + 20, BasicLogger::kLockWaitMilliseconds);
    EXPECT_LE(elapsed, BasicLogger::kLockWaitMilliseconds + 1000);

    facade.log("BidiService", "after the hold");
    const std::vector<std::string> texts = linesByComponent()["BidiService"];
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "before the hold");
    EXPECT_EQ(texts.back(), "after the hold");
    for (const std::string& text : texts) EXPECT_NE(text, "while another process holds the lock");
}
