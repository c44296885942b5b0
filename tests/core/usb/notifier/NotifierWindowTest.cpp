// The notifier window: its procedure's decisions with a fake printer table, then the real hidden
// window on its own thread, driven by messages sent from the test thread.
#include "core/usb/NotifierWindow.h"
#include "tests/core/usb/notifier/DeviceBroadcast.h"

#include "runtime/Win32.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const char kKnownPath[] = "\\\\?\\usb#vid_1a2b&pid_0c3d#sim0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

class CountingPort : public Port {
public:
    CountingPort() : Port("<PORTNAME>USB001</PORTNAME>") {}
    void onDeviceAttach() override { ++attaches; }
    void onDeviceDetach() override { ++detaches; }
    std::atomic<int> attaches{0};
    std::atomic<int> detaches{0};
};

class FakeTable : public DeviceEventSink {
public:
    FakeTable() : port(std::make_shared<CountingPort>()) {}
    std::shared_ptr<Port> findByDevicePath(const std::string& path) override {
        return samePath(path, kKnownPath) ? port : nullptr;
    }
    void suspendAll() override { ++suspends; }
    void resumeAll() override { ++resumes; }
    int32_t undockAll() override {
        ++undocks;
        return 1;
    }
    std::shared_ptr<CountingPort> port;
    std::atomic<int> suspends{0}, resumes{0}, undocks{0};
};

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

struct Counts {
    int attaches, detaches, suspends, resumes, undocks;
};

Counts countsOf(const FakeTable& table) {
    return {table.port->attaches.load(), table.port->detaches.load(), table.suspends.load(), table.resumes.load(),
            table.undocks.load()};
}

TEST(NotifierWindowProcedure, RoutesEachMessageToTheRightHookOnce) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        std::vector<unsigned char> record;
        LRESULT result;
        Counts expected;
    };
    std::vector<unsigned char> truncated = interfaceRecord(kKnownPath);
    // Declares no room for a name: the name bytes behind it must not be read.
    reinterpret_cast<DEV_BROADCAST_HDR*>(truncated.data())->dbch_size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    const std::vector<Case> cases = {
        {"arrival, known path in other case", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, interfaceRecord(upper(kKnownPath)), 0, {1, 0, 0, 0, 0}},
        {"removal, known path", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, interfaceRecord(kKnownPath), 0, {0, 1, 0, 0, 0}},
        {"arrival, unknown path", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, interfaceRecord("\\\\?\\usb#other"), 0, {0, 0, 0, 0, 0}},
        {"removal, path prefix only", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, interfaceRecord(std::string(kKnownPath).substr(0, 20)), 0, {0, 0, 0, 0, 0}},
        {"volume arrival", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, interfaceRecord(kKnownPath, DBT_DEVTYP_VOLUME), 0, {0, 0, 0, 0, 0}},
        {"record too short for a name", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, truncated, 0, {0, 0, 0, 0, 0}},
        {"removal query", WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, interfaceRecord(kKnownPath), 0, {0, 0, 0, 0, 0}},
        {"removal pending", WM_DEVICECHANGE, DBT_DEVICEREMOVEPENDING, interfaceRecord(kKnownPath), 0, {0, 0, 0, 0, 0}},
        {"docking query", WM_DEVICECHANGE, DBT_QUERYCHANGECONFIG, {}, 1, {0, 0, 0, 0, 1}},
        {"query suspend", WM_POWERBROADCAST, 0x0, {}, 0, {0, 0, 1, 0, 0}},
        {"suspend", WM_POWERBROADCAST, 0x4, {}, 0, {0, 0, 1, 0, 0}},
        {"standby", WM_POWERBROADCAST, 0x5, {}, 0, {0, 0, 1, 0, 0}},
        {"battery low", WM_POWERBROADCAST, 0x9, {}, 0, {0, 0, 1, 0, 0}},
        {"suspend refused", WM_POWERBROADCAST, 0x2, {}, 0, {0, 0, 0, 1, 0}},
        {"resume", WM_POWERBROADCAST, 0x7, {}, 0, {0, 0, 0, 1, 0}},
        {"resume automatic", WM_POWERBROADCAST, 0x12, {}, 0, {0, 0, 0, 1, 0}},
        {"power status change", WM_POWERBROADCAST, 0xA, {}, 0, {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTable table;
        LRESULT result = -1;
        const LPARAM lParam = c.record.empty() ? 0 : reinterpret_cast<LPARAM>(c.record.data());
        ASSERT_TRUE(NotifierWindow::handleMessage(&table, c.message, c.wParam, lParam, result));
        EXPECT_EQ(c.result, result);
        const Counts got = countsOf(table);
        EXPECT_EQ(c.expected.attaches, got.attaches);
        EXPECT_EQ(c.expected.detaches, got.detaches);
        EXPECT_EQ(c.expected.suspends, got.suspends);
        EXPECT_EQ(c.expected.resumes, got.resumes);
        EXPECT_EQ(c.expected.undocks, got.undocks);
    }
    LRESULT result = 0;
    EXPECT_FALSE(NotifierWindow::handleMessage(nullptr, WM_USER, 0, 0, result)) << "others go to DefWindowProcA";
}

std::string uniquePrefix() {
    static int serial = 0;
    return "NwT" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial) + "__";
}

TEST(NotifierWindowThread, HiddenWindowDeliversRealMessagesAndStopsPromptly) {
    FakeTable table;
    const std::string prefix = uniquePrefix();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first window" : "second window, same class name");
        NotifierWindow& notifier = NotifierWindow::create(prefix, &table);
        EXPECT_EQ(&notifier, &NotifierWindow::create("ignored", nullptr));
        const HWND window = notifier.window();
        ASSERT_NE(nullptr, window) << "exit code " << notifier.exitCode();
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(notifier.threadId(), GetWindowThreadProcessId(window, nullptr));

        const std::vector<unsigned char> arrival = interfaceRecord(upper(kKnownPath));
        const std::vector<unsigned char> volume = interfaceRecord(kKnownPath, DBT_DEVTYP_VOLUME);
        EXPECT_EQ(0, SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(arrival.data())));
        EXPECT_EQ(0, SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(volume.data())));
        EXPECT_EQ(0, SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(arrival.data())));
        EXPECT_EQ(0, SendMessageA(window, WM_POWERBROADCAST, 0x4, 0));
        EXPECT_EQ(0, SendMessageA(window, WM_POWERBROADCAST, 0x7, 0));
        EXPECT_EQ(1, SendMessageA(window, WM_DEVICECHANGE, DBT_QUERYCHANGECONFIG, 0));
        const Counts got = countsOf(table);
        EXPECT_EQ(round + 1, got.attaches);
        EXPECT_EQ(round + 1, got.detaches);
        EXPECT_EQ(round + 1, got.suspends);
        EXPECT_EQ(round + 1, got.resumes);
        EXPECT_EQ(round + 1, got.undocks);

        const ULONGLONG before = GetTickCount64();
        NotifierWindow::destroy();
        EXPECT_LT(GetTickCount64() - before, 2000u);
        EXPECT_FALSE(NotifierWindow::exists());
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST(NotifierWindowThread, FailedSetupEndsTheThreadWithTheSystemCode) {
    const std::string prefix = uniquePrefix();
    const std::string name = prefix + "Hidden Notifier Window";
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = name.c_str();
    ASSERT_NE(0, RegisterClassA(&taken));

    NotifierWindow& notifier = NotifierWindow::create(prefix, nullptr);
    EXPECT_EQ(nullptr, notifier.window());
    ASSERT_TRUE(notifier.stop());
    EXPECT_EQ(static_cast<uint32_t>(ERROR_CLASS_ALREADY_EXISTS), notifier.exitCode());
    NotifierWindow::destroy();
    // The class registered by someone else is left alone.
    EXPECT_TRUE(UnregisterClassA(name.c_str(), GetModuleHandleA(nullptr)));
}

}  // namespace
