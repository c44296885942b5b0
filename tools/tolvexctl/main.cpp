// tolvexctl: a command-line client of the tolvex service for printer-tool developers. The exit
// codes are CtlCommandLine's: 0 done, 1 the service refused (its code is printed), 2 a bad
// command line, 3 no answer from the service, 4 a failure of tolvexctl's own.
#include "runtime/Win32.h"
#include "tools/tolvexctl/CtlCommandLine.h"
#include "tools/tolvexctl/TolvexCtl.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    return TolvexCtl::interruptWatch() ? TRUE : FALSE;
}

std::string programFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, n < MAX_PATH ? n : 0);
    return full.substr(0, full.rfind('\\') + 1);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    CtlCommandLine line;
    std::string error;
    if (!line.parse(args, error)) {
        std::fprintf(stderr, "tolvexctl: %s\nTry tolvexctl help.\n", error.c_str());
        return CtlCommandLine::kExitUsage;
    }
    if (line.help) {
        std::fputs(CtlCommandLine::usage(line.command).c_str(), stdout);
        return CtlCommandLine::kExitOk;
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    TolvexCtl ctl(line, programFolder(), stdout, stderr);
    const int rc = ctl.run();
    std::fflush(stdout);
    return rc;
}
