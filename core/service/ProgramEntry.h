#pragma once
// The tolvex program: brings up the service environment, then installs, removes or starts the
// service (a dash and an option word as first argument) or runs as the service (anything else).
// Always returns 0; failures show in the log and on the console. Windows only.
#include <string>

struct ServiceNames {
    std::string serviceName;  // prefix + "__tolvex"
    std::string displayName;  // short name + " Sorvane"
    std::string binaryPath;   // the program's path in double quotes
};

class ProgramEntry {
public:
    static ServiceNames composeNames(const std::string& prefix, const std::string& shortName,
                                     const std::string& programPath);
    static int run(int argc, char** argv);
};
