#include "core/ipc/LocalPipeNames.h"

#include <strings.h>
#include <unistd.h>

bool LocalPipeNames::isThisComputer(const std::string& host) {
    if (host.empty() || host == ".") return true;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return false;
    // Host names compare without regard to case.
    return strcasecmp(host.c_str(), name) == 0 && host.find('\0') == std::string::npos;
}
