#include "runtime/OsVersion.h"

#include "runtime/Exception.h"
#include "runtime/ProcessSingleton.h"

OsVersion::OsVersion() : info_() {
    // The plain record first: systems before NT 5 reject the extended size.
    info_.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info_)))
        TOLVEX_THROW_WIN32("OsVersion::OsVersion(): GetVersionEx failed", GetLastError());
    if (info_.dwPlatformId == VER_PLATFORM_WIN32_NT && info_.dwMajorVersion > 4) {
        info_.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info_)))
            TOLVEX_THROW_WIN32("OsVersion::OsVersion(): GetVersionEx failed with OSVERSIONINFOEX", GetLastError());
    }
}

const OsVersion& OsVersion::instance() {
    static ProcessSingleton<OsVersion> singleton;
    return singleton.get();
}

bool OsVersion::isNtFamily() const { return info_.dwPlatformId == VER_PLATFORM_WIN32_NT; }

bool runningUnderWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    if (kernel32 == nullptr) return false;
    FARPROC proc = GetProcAddress(kernel32, "IsWow64Process");
    if (proc == nullptr) return false;
    // Through the generic function pointer type: a direct cast between unrelated function types
    // is flagged by the compiler.
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(proc));
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}
