// The logging tests' entry point. Started with "--helper ..." the program is a second process
// for the cross-process cases instead:
//   --helper write <prefix> <shortName> <readyEvent> <startEvent> <count> <component>
//       sets the ready event, waits (bounded) for the start event, then logs count lines
//       through the facade.
//   --helper capped <path> <maxBytes> <readyEvent> <startEvent> <count> <tag>
//       like write, but through a BasicLogger of its own on path with that size cap; the
//       lines read "<tag> <n>".
//   --helper hold <lockName> <readyEvent> <releaseEvent>
//       holds the named log mutex until the release event is set (bounded), then ends.
// Otherwise it brands the facade with a prefix and short name unique to the run, runs the
// tests, and removes the run's log file and switch key.
#include "LoggingTestSupport.h"
#include "config/RegistryKey.h"
#include "logging/LogFacade.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace logtest {

namespace {
std::string g_prefix;
std::string g_shortName;
const DWORD kHelperWaitMilliseconds = 30000;
}  // namespace

std::string uniqueName(const std::string& stem) {
    static std::atomic<unsigned> serial{0};
    char text[48];
    std::snprintf(text, sizeof text, "%lx%lx%x", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), serial++);
    return stem + text;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

void removeSwitch(const std::string& shortName) {
    try {
        recurseDeleteKey("Software\\" + shortName, HKEY_LOCAL_MACHINE);
    } catch (...) {
    }
}

void setSwitch(const std::string& shortName, uint32_t value) {
    RegistryKey64 key("Software\\" + shortName + "\\BcxComponents\\", true, HKEY_LOCAL_MACHINE, kRegistryWriteAccess);
    key.setValue("startLog", value);
}

UniqueHandle startHelper(const std::string& arguments) {
    char program[MAX_PATH] = {};
    if (GetModuleFileNameA(nullptr, program, MAX_PATH) == 0) return UniqueHandle();
    std::string commandLine = "\"" + std::string(program) + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return UniqueHandle();
    CloseHandle(info.hThread);
    return UniqueHandle(info.hProcess);
}

DWORD waitHelper(const UniqueHandle& process, DWORD milliseconds) {
    if (WaitForSingleObject(process.get(), milliseconds) != WAIT_OBJECT_0) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

const std::string& runPrefix() { return g_prefix; }
const std::string& runShortName() { return g_shortName; }

namespace {

// The helpers' start: the ready event named first is set, then the start event named second is
// waited for. 0, or the helper's exit code for what failed.
int signalReadyAndWaitForStart(const char* readyName, const char* startName) {
    UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName));
    UniqueHandle start(OpenEventA(SYNCHRONIZE, FALSE, startName));
    if (!ready || !start) return 3;
    SetEvent(ready.get());
    return WaitForSingleObject(start.get(), kHelperWaitMilliseconds) == WAIT_OBJECT_0 ? 0 : 4;
}

int helperWrite(int argc, char** argv) {
    if (argc != 9) return 2;
    LogFacade& facade = LogFacade::getInstance();
    facade.setPrefix(argv[3]);
    facade.setShortName(argv[4]);
    const int started = signalReadyAndWaitForStart(argv[5], argv[6]);
    if (started != 0) return started;
    const int count = std::atoi(argv[7]);
    for (int i = 0; i < count; ++i) facade.log(argv[8], "helper line " + std::to_string(i));
    return 0;
}

int helperCapped(int argc, char** argv) {
    if (argc != 9) return 2;
    BasicLogger logger(argv[3], 25, std::strtoull(argv[4], nullptr, 10));
    const int started = signalReadyAndWaitForStart(argv[5], argv[6]);
    if (started != 0) return started;
    const int count = std::atoi(argv[7]);
    for (int i = 0; i < count; ++i) logger.write(LoggerComponent("BidiService", 1), 1, std::string(argv[8]) + " " + std::to_string(i));
    return 0;
}

int helperHold(int argc, char** argv) {
    if (argc != 6) return 2;
    UniqueHandle mutex(CreateMutexA(nullptr, FALSE, argv[3]));
    UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]));
    UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, argv[5]));
    if (!mutex || !ready || !release) return 3;
    if (WaitForSingleObject(mutex.get(), kHelperWaitMilliseconds) != WAIT_OBJECT_0) return 4;
    SetEvent(ready.get());
    const DWORD waited = WaitForSingleObject(release.get(), kHelperWaitMilliseconds);
    ReleaseMutex(mutex.get());
    return waited == WAIT_OBJECT_0 ? 0 : 5;
}

}  // namespace
}  // namespace logtest

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--helper") {
        const std::string mode = argv[2];
        if (mode == "write") return logtest::helperWrite(argc, argv);
        if (mode == "hold") return logtest::helperHold(argc, argv);
        if (mode == "capped") return logtest::helperCapped(argc, argv);
        return 2;
    }
    logtest::g_prefix = logtest::uniqueName("QvT");
    logtest::g_shortName = logtest::uniqueName("TolvexLogTest");
    LogFacade::getInstance().setPrefix(logtest::g_prefix);
    LogFacade::getInstance().setShortName(logtest::g_shortName);
    const std::string logPath = LogFacade::getInstance().logPath();

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    logtest::removeSwitch(logtest::g_shortName);
    DeleteFileA(logPath.c_str());
    return result;
}
