// A stand-in interpreter plug-in that reports through the process environment (which outlives
// the module) how often its entry points ran. TOLVEX_FAKE_INIT_RESULT sets what
// InterpreterInitialize returns, TOLVEX_FAKE_INIT_ERROR the last error it leaves.
#include "export/common/CommandManager.h"
#include "export/common/PacketManager.h"
#include "runtime/Win32.h"

#include <cstdlib>
#include <string>

namespace {

unsigned long readVariable(const char* name) {
    char text[32] = {};
    const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return n > 0 && n < sizeof text ? std::strtoul(text, nullptr, 10) : 0;
}

void bump(const char* name) { SetEnvironmentVariableA(name, std::to_string(readVariable(name) + 1).c_str()); }

CommandManager commands;
NullPacketManager packets;

}  // namespace

extern "C" __declspec(dllexport) int InterpreterInitialize() {
    bump("TOLVEX_FAKE_INITIALIZED");
    const int result = static_cast<int>(readVariable("TOLVEX_FAKE_INIT_RESULT"));
    if (result != 0) SetLastError(readVariable("TOLVEX_FAKE_INIT_ERROR"));
    return result;
}

#ifndef FAKE_WITHOUT_UNINITIALIZE
extern "C" __declspec(dllexport) void InterpreterUninitialize() { bump("TOLVEX_FAKE_UNINITIALIZED"); }
#endif

extern "C" __declspec(dllexport) CommandManager* GetCommandManager() { return &commands; }
extern "C" __declspec(dllexport) PacketManager* GetPacketManager() { return &packets; }
