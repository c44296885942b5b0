#include "core/ipc/LocalPipeNames.h"

#include "runtime/Win32.h"

bool LocalPipeNames::isThisComputer(const std::string& host) {
    if (host.empty() || host == ".") return true;
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return false;
    // Computer names compare without regard to case.
    return host.size() == size && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, host.data(),
                                                 static_cast<int>(host.size()), name, static_cast<int>(size)) == CSTR_EQUAL;
}
