// The service under Wine's service control manager, with tolvex_test_service.exe as its program,
// and the control handler in-process. Each test installs a service named for this run and
// removes it (and the run's log switch and file) afterwards.
#include "core/service/Service.h"
#include "core/service/ServiceControl.h"
#include "core/service/ServiceInstaller.h"
#include "logging/LogFacade.h"
#include "runtime/UniqueHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr DWORD kStateWaitMilliseconds = 15000;

std::string unique(const std::string& stem) {
    static int serial = 0;
    std::ostringstream s;
    s << stem << std::hex << GetCurrentProcessId() << "x" << (GetTickCount() & 0xFFFFFF) << "x" << ++serial;
    return s.str();
}

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The log switch and file of this run, shared by every test of the process (the process's log
// writer keeps the file of its first line); tests look only at what was added after a mark.
class RunLog : public ::testing::Environment {
public:
    static std::string prefix, shortName, path;
    void SetUp() override {
        prefix = unique("TvxLog");
        shortName = unique("TvxShort");
        HKEY key = nullptr;
        const std::string keyPath = "Software\\" + shortName + "\\BcxComponents\\";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        const DWORD on = 1;
        RegSetValueExA(key, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegCloseKey(key);
        LogFacade::getInstance().setPrefix(prefix);
        LogFacade::getInstance().setShortName(shortName);
        path = LogFacade::getInstance().logPath();
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\" + shortName).c_str());
        DeleteFileA(path.c_str());
    }
};
std::string RunLog::prefix, RunLog::shortName, RunLog::path;
const ::testing::Environment* const runLog = ::testing::AddGlobalTestEnvironment(new RunLog);

size_t logMark() { return readFile(RunLog::path).size(); }

// Polls until text shows in the log after mark.
bool logShows(size_t mark, const std::string& text, DWORD milliseconds = 5000) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    do {
        const std::string log = readFile(RunLog::path);
        if (log.size() > mark && log.find(text, mark) != std::string::npos) return true;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return false;
}

class ServiceScm : public ::testing::Test {
protected:
    void SetUp() override { name_ = unique("TvxSvc") + "__tolvex"; }

    void TearDown() override {
        std::ostringstream ignored;
        ServiceInstaller::uninstall(name_, ignored);
    }

    // Display names must be unique too: tests run in parallel processes.
    std::string display() const { return name_ + " Sorvane"; }

    std::string binaryPath(const std::string& mode) const {
        const std::string folder = RunLog::path.substr(0, RunLog::path.find_last_of('\\'));
        return "\"" + programFolder() + "tolvex_test_service.exe\" " + name_ + " " + mode + " " + RunLog::prefix +
               " " + RunLog::shortName + " \"" + folder + "\"";
    }

    bool status(SERVICE_STATUS_PROCESS& out) const {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle service(OpenServiceA(manager.get(), name_.c_str(), SERVICE_QUERY_STATUS));
        DWORD needed = 0;
        return service && QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&out),
                                               sizeof out, &needed);
    }

    // Polls until the service reports state (and, when given, accepts exactly controls).
    bool waitForState(DWORD state, DWORD milliseconds, DWORD controls = 0xFFFFFFFF) const {
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        SERVICE_STATUS_PROCESS s = {};
        do {
            if (status(s) && s.dwCurrentState == state && (controls == 0xFFFFFFFF || s.dwControlsAccepted == controls))
                return true;
            Sleep(20);
        } while (GetTickCount64() < deadline);
        return false;
    }

    BOOL control(DWORD code) const {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle service(OpenServiceA(manager.get(), name_.c_str(), SERVICE_ALL_ACCESS));
        SERVICE_STATUS s = {};
        return ControlService(service.get(), code, &s);
    }

    std::string name_;
};

TEST_F(ServiceScm, InstallCreatesAndStartsAnAutomaticServiceAndASecondInstallStartsTheExistingOne) {
    ASSERT_EQ(0u, ServiceInstaller::install(name_, display(), binaryPath("normal")));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING, kStateWaitMilliseconds, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));

    const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(OpenServiceA(manager.get(), name_.c_str(), SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192] = {};
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, sizeof buffer, &needed));
    EXPECT_EQ(0x110u, config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_EQ(binaryPath("normal"), config->lpBinaryPathName);
    EXPECT_EQ(display(), config->lpDisplayName);

    // Interrogation reaches the handler, is logged, and changes nothing.
    size_t mark = logMark();
    EXPECT_TRUE(control(SERVICE_CONTROL_INTERROGATE));
    EXPECT_TRUE(logShows(mark, "doSCMHandler: 4"));
    EXPECT_TRUE(waitForState(SERVICE_RUNNING, 100));

    // Stop it, then install again: the creation fails with 1073 and the existing one starts.
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(waitForState(SERVICE_STOPPED, kStateWaitMilliseconds));
    mark = logMark();
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_EXISTS),
              ServiceInstaller::install(name_, display(), binaryPath("normal")));
    EXPECT_TRUE(logShows(mark, "Failed to get service handle"));
    EXPECT_TRUE(waitForState(SERVICE_RUNNING, kStateWaitMilliseconds));
}

TEST_F(ServiceScm, DebugInstallLeavesItStoppedDebugStartStartsItUninstallStopsAndRemoves) {
    ASSERT_EQ(0u, ServiceInstaller::debugInstall(name_, display(), binaryPath("normal")));
    SERVICE_STATUS_PROCESS s = {};
    ASSERT_TRUE(status(s));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), s.dwCurrentState);

    EXPECT_EQ(0u, ServiceInstaller::startService(name_));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING, kStateWaitMilliseconds, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));

    std::ostringstream out;
    EXPECT_EQ(0u, ServiceInstaller::uninstall(name_, out));
    EXPECT_EQ("\n" + name_ + " is stopped.\n" + name_ + " is removed.\n", out.str());
    EXPECT_FALSE(status(s));

    std::ostringstream missing;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), ServiceInstaller::uninstall(name_, missing));
    EXPECT_EQ("", missing.str());
}

TEST_F(ServiceScm, AStartRoutineThatRaisesEndsStoppedWithServiceSpecificCodes) {
    const UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, ("Global\\" + name_ + "-release").c_str()));
    ASSERT_TRUE(release);
    const size_t mark = logMark();
    ASSERT_EQ(0u, ServiceInstaller::install(name_, display(), binaryPath("failstart")));
    SetEvent(release.get());
    ASSERT_TRUE(waitForState(SERVICE_STOPPED, kStateWaitMilliseconds));
    SERVICE_STATUS_PROCESS s = {};
    ASSERT_TRUE(status(s));
    EXPECT_EQ(1066u, s.dwWin32ExitCode);
    EXPECT_EQ(1066u, s.dwServiceSpecificExitCode);
    EXPECT_TRUE(logShows(mark, " Error - test start routine failed rc = 231"));

    std::ostringstream out;
    EXPECT_EQ(0u, ServiceInstaller::uninstall(name_, out));
    EXPECT_EQ(name_ + " is removed.\n", out.str()) << "a stopped service is only removed";
}

TEST_F(ServiceScm, AStopReportsStopPendingWithAWaitHintWhileItWorks) {
    const std::string releaseName = "Global\\" + name_ + "-release";
    const UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str()));
    ASSERT_TRUE(release);
    ASSERT_EQ(0u, ServiceInstaller::install(name_, display(), binaryPath("holdstop")));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING, kStateWaitMilliseconds, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));

    std::atomic<BOOL> accepted{FALSE};
    std::thread stopper([&] { accepted = control(SERVICE_CONTROL_STOP); });
    const bool pending = waitForState(SERVICE_STOP_PENDING, kStateWaitMilliseconds);
    SERVICE_STATUS_PROCESS s = {};
    const bool read = status(s);
    SetEvent(release.get());
    stopper.join();
    ASSERT_TRUE(pending);
    ASSERT_TRUE(read);
    EXPECT_EQ(Service::kStopWaitHintMilliseconds, s.dwWaitHint);
    EXPECT_NE(0u, s.dwCheckPoint);
    EXPECT_TRUE(accepted.load());
    ASSERT_TRUE(waitForState(SERVICE_STOPPED, 5000));
    ASSERT_TRUE(status(s));
    EXPECT_EQ(0u, s.dwWin32ExitCode);
}

TEST_F(ServiceScm, AFailingStopRoutineStillEndsStopped) {
    ASSERT_EQ(0u, ServiceInstaller::install(name_, display(), binaryPath("failstop")));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING, kStateWaitMilliseconds, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    const size_t mark = logMark();
    EXPECT_TRUE(control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(waitForState(SERVICE_STOPPED, 5000));
    SERVICE_STATUS_PROCESS s = {};
    ASSERT_TRUE(status(s));
    EXPECT_EQ(1066u, s.dwWin32ExitCode);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), s.dwServiceSpecificExitCode);
    EXPECT_TRUE(logShows(mark, "Uninitialization failed"));
}

TEST(ServiceInProcess, OtherControlsAreIgnoredAndTheDispatcherFailsFromAConsole) {
    Service::create("TvxInProcess__tolvex");
    std::atomic<int> stops{0};
    Service::setStopRoutine([&] { ++stops; });
    const SERVICE_STATUS before = Service::status();
    const size_t mark = logMark();
    for (DWORD code : {DWORD{SERVICE_CONTROL_PAUSE}, DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{SERVICE_CONTROL_CONTINUE}}) {
        Service::doSCMHandler(code);
    }
    EXPECT_EQ(0, stops.load());
    EXPECT_TRUE(logShows(mark, "doSCMHandler: 2"));
    EXPECT_TRUE(logShows(mark, "doSCMHandler: 4"));
    const SERVICE_STATUS after = Service::status();
    EXPECT_EQ(before.dwCurrentState, after.dwCurrentState);
    EXPECT_EQ(before.dwControlsAccepted, after.dwControlsAccepted);
    EXPECT_EQ(before.dwWin32ExitCode, after.dwWin32ExitCode);
    EXPECT_EQ(before.dwCheckPoint, after.dwCheckPoint);

    EXPECT_EQ(static_cast<uint32_t>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), Service::Run());
    EXPECT_TRUE(logShows(mark, "Failed to start StartServiceCtrlDispatcher"));
    EXPECT_TRUE(logShows(mark, "-Service::Run() rc: 1063"));
    Service::destroy();
}

TEST(ServiceControlBinding, AMissingFunctionFailsLikeTheCall) {
    SetLastError(0);
    EXPECT_EQ(nullptr, ServiceControl::lookup("NoSuchServiceFunctionA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_NE(nullptr, ServiceControl::lookup("QueryServiceStatus"));
}

}  // namespace
