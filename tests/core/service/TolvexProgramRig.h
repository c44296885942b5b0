#pragma once
// tolvex.exe itself, copied into a folder of this run under %TEMP% with a branding of its own (a
// prefix unique to the run, so its service, pipe, registry key and log file are too), driven
// through its option words under Wine's service control manager. tearDown() uninstalls the
// service and removes the folder, the registry key and the log, whatever the test did.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace TolvexProgramFiles {

// stem + this process's id + "x" + a tick count, in hexadecimal.
inline std::string unique(const std::string& stem) {
    std::ostringstream s;
    s << stem << std::hex << GetCurrentProcessId() << "x" << (GetTickCount() & 0xFFFFFF);
    return s.str();
}

// The folder of the running program, with its trailing backslash.
inline std::string moduleFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string expand(const std::string& text) {
    char buffer[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsA(text.c_str(), buffer, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? std::string(buffer) : std::string();
}

// The build's program folder (bin/), seen from a test program in tests/bin/.
inline std::string binFolder() { return moduleFolder() + "..\\..\\bin\\"; }

}  // namespace TolvexProgramFiles

class TolvexProgramRig {
public:
    // stem begins the run's prefix; shortNameStem, when given, a short name of its own (else the
    // short name is the prefix). With log, the run's log switch is set. Failures are fatal gtest
    // failures: the caller checks HasFatalFailure().
    void setUp(const std::string& stem, bool log = true, const std::string& shortNameStem = "") {
        using namespace TolvexProgramFiles;
        prefix = unique(stem);
        shortName = shortNameStem.empty() ? prefix : unique(shortNameStem);
        service = prefix + "__tolvex";
        folder = expand("%TEMP%\\") + prefix + "\\";
        logPath = expand("%ALLUSERSPROFILE%\\") + prefix + "__BcxComponents.log";
        // Wine's control manager gives services an ALLUSERSPROFILE of the public profile.
        serviceLogPath = expand("%PUBLIC%\\") + prefix + "__BcxComponents.log";
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        created_ = true;
        program = folder + "tolvex.exe";
        ASSERT_TRUE(CopyFileA((binFolder() + "tolvex.exe").c_str(), program.c_str(), FALSE));
        files_.push_back(program);
        writeFile("communicationconfig.xml",
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n  <VendorRegistryName>" + prefix +
                      "</VendorRegistryName>\n  <ManufacturerPrefix>" + prefix + "</ManufacturerPrefix>\n  <Manufacturer>" +
                      prefix + "</Manufacturer>\n  <ManufacturerShortName>" + shortName +
                      "</ManufacturerShortName>\n</config>\n");
        HKEY key = nullptr;
        // The log switch lives under the short name.
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\" + shortName + "\\BcxComponents\\").c_str(),
                                                 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        const DWORD on = log ? 1 : 0;
        RegSetValueExA(key, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegCloseKey(key);
    }

    void tearDown() {
        if (!created_) return;
        std::string ignored;
        run("-uninstall", ignored);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\" + prefix).c_str());
        if (shortName != prefix) RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\" + shortName).c_str());
        DeleteFileA(logPath.c_str());
        DeleteFileA(serviceLogPath.c_str());
        for (const std::string& file : files_) DeleteFileA(file.c_str());
        for (int i = 1; i <= runs_; ++i) DeleteFileA((folder + "out" + std::to_string(i) + ".txt").c_str());
        RemoveDirectoryA(folder.c_str());
        created_ = false;
    }

    // The NPA plug-in beside the program, under the run's prefix.
    void copyPlugIn() {
        const std::string target = folder + prefix + "__ovra.dll";
        ASSERT_TRUE(CopyFileA((TolvexProgramFiles::binFolder() + "Qv__ovra.dll").c_str(), target.c_str(), FALSE));
        files_.push_back(target);
    }

    // A file beside the program (replaced if there), removed by tearDown().
    void writeFile(const std::string& name, const std::string& text) {
        const std::string path = folder + name;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
        ASSERT_TRUE(file.good()) << path;
        files_.push_back(path);
    }

    // The program's exit code (0xFFFFFFFF when it did not end within 40 s) and its output.
    DWORD run(const std::string& argument, std::string& output) const {
        // A file per run: a console helper of Wine's may inherit the handle and outlive the program.
        const std::string outPath = folder + "out" + std::to_string(++runs_) + ".txt";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueFileHandle out(CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!out) {
            ADD_FAILURE() << "cannot create " << outPath << ": " << GetLastError();
            return 0xFFFFFFFF;
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
        startup.hStdInput = nullptr;
        PROCESS_INFORMATION info = {};
        std::string commandLine = "\"" + program + "\"" + (argument.empty() ? "" : " " + argument);
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
            return 0xFFFFFFFF;
        }
        const UniqueHandle process(info.hProcess);
        CloseHandle(info.hThread);
        out.reset();
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process.get(), 40000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
        output = TolvexProgramFiles::readFile(outPath);
        return code;
    }

    // The service's status from the control manager; false when it is not installed.
    bool status(SERVICE_STATUS_PROCESS& out) const {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle handle(OpenServiceA(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
        DWORD needed = 0;
        return handle && QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&out),
                                              sizeof out, &needed);
    }

    // The current state (0 when not installed) and, when asked, the controls it accepts.
    DWORD state(DWORD* accepted = nullptr) const {
        SERVICE_STATUS_PROCESS s = {};
        if (!status(s)) return 0;
        if (accepted != nullptr) *accepted = s.dwControlsAccepted;
        return s.dwCurrentState;
    }

    // Polls until the service reports state (and, for running, accepts stop and shutdown).
    bool waitForState(DWORD wanted, DWORD milliseconds) const {
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        do {
            DWORD accepted = 0;
            const DWORD now = state(&accepted);
            if (now == wanted &&
                (wanted != SERVICE_RUNNING || accepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN)))
                return true;
            Sleep(20);
        } while (GetTickCount64() < deadline);
        return false;
    }

    bool waitRunningAndAccepting() const { return waitForState(SERVICE_RUNNING, 15000); }

    // ControlService with code; false when the manager refused it.
    bool control(DWORD code) const {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle handle(OpenServiceA(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
        SERVICE_STATUS s = {};
        return handle && ControlService(handle.get(), code, &s);
    }

    // logPath: what the program writes when run from here; serviceLogPath: what the service writes.
    std::string prefix, shortName, service, folder, program, logPath, serviceLogPath;

private:
    bool created_ = false;
    std::vector<std::string> files_;
    mutable int runs_ = 0;
};
