#include "core/interpreters/InterpreterDllHandler.h"

namespace {
using InitializeFunction = int (*)();
using UninitializeFunction = void (*)();
}  // namespace

void InterpreterDllHandler::onFirstLoad(BasicDll<InterpreterDllHandler>& dll) {
    const auto initialize = reinterpret_cast<InitializeFunction>(
        reinterpret_cast<void*>(dll.getProcAddress("InterpreterInitialize")));
    // GetModuleHandleA and the loader leave codes behind; only what the plug-in sets counts.
    SetLastError(0);
    const int result = initialize();
    if (result != 0) {
        // A plug-in that fails without setting the last error still gets a non-zero code, so
        // that the failure is never mistaken for success.
        const DWORD lastError = GetLastError();
        throw Win32Exception("Unable to initialize DLL=" + dll.fileName(),
                             lastError != 0 ? static_cast<int32_t>(lastError) : static_cast<int32_t>(result),
                             "InterpreterDllHandler", __LINE__);
    }
}

void InterpreterDllHandler::onLastUnload(BasicDll<InterpreterDllHandler>& dll) {
    const auto uninitialize = reinterpret_cast<UninitializeFunction>(
        reinterpret_cast<void*>(dll.getProcAddress("InterpreterUninitialize")));
    uninitialize();
}
