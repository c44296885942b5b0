#pragma once
// Runs a program of the build tree as a child process under Wine with its output captured, for
// tests of the command-line tools. The child is bounded: one that overruns is terminated (exit
// code 1460) and reported as not finished.
#include "runtime/Win32.h"

#include <algorithm>
#include <functional>
#include <string>
#include <thread>

// A path of the build tree as Windows sees it: backslashes, the host root mapped to Z:.
inline std::string windowsPathOf(std::string hostPath) {
    std::replace(hostPath.begin(), hostPath.end(), '/', '\\');
    return !hostPath.empty() && hostPath[0] == '\\' ? "Z:" + hostPath : hostPath;
}

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;
    std::string output;  // stdout and stderr together, CR LF turned into LF
};

// Runs program with args for at most limitMs; whileRunning (if any) runs while the child runs.
inline ChildResult runChild(const std::string& program, const std::string& args, DWORD limitMs,
                            const std::function<void()>& whileRunning = nullptr) {
    ChildResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\" " + args;
    const BOOL started =
        CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    // Only the child keeps the write end, so the reader sees the end when the child exits.
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return result;
    }
    std::thread reader([&] {
        char buffer[512];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) result.output.append(buffer, n);
    });
    if (whileRunning) whileRunning();
    result.finished = WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        TerminateProcess(process.hProcess, 1460);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    reader.join();
    // The child's stdout is in text mode: lines end in CR LF.
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
