// The entry points of the NPA plug-in DLL: four undecorated C exports that the service (or any
// other host) finds with GetProcAddress, and the library entry. No exception leaves an export:
// the host is another module with its own runtime.
#include "interpreters/npa/NpaInterpreter.h"
#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <new>

namespace {

constexpr uint32_t kOutOfMemory = 14;     // ERROR_OUTOFMEMORY
constexpr uint32_t kInternalError = 1359;  // ERROR_INTERNAL_ERROR

template <typename Call>
uint32_t Guarded(Call call) {
    try {
        return call();
    } catch (const Exception& e) {
        return e.code() != 0 ? static_cast<uint32_t>(e.code()) : kInternalError;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
}

}  // namespace

extern "C" {

// Null only when the manager cannot be created (out of memory).
__declspec(dllexport) CommandManager* GetCommandManager() {
    try {
        return NpaInterpreter::GetCommandManager();
    } catch (...) {
        return nullptr;
    }
}

__declspec(dllexport) PacketManager* GetPacketManager() {
    try {
        return NpaInterpreter::GetPacketManager();
    } catch (...) {
        return nullptr;
    }
}

__declspec(dllexport) uint32_t InterpreterInitialize() {
    return Guarded([] { return NpaInterpreter::Initialize(); });
}

__declspec(dllexport) uint32_t InterpreterUninitialize() {
    return Guarded([] { return NpaInterpreter::Uninitialize(); });
}

// The plug-in keeps no per-thread state, so the loader need not call in for every thread the
// service starts and ends.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

}  // extern "C"
