#pragma once
// The tolvex program: brings up the service environment, then installs, removes or starts the
// service (a dash and an option word as first argument) or runs as the service (anything else).
// From a console, with no option (the dispatcher then fails) or a help option, it prints its
// usage. Failures show in the log and on the console. Windows only.
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
    // The text a console user gets: the option words, the names the service is installed under,
    // its pipe and where its log is and how to switch it on.
    static std::string usage(const ServiceNames& names, const std::string& prefix, const std::string& shortName);
    // 0; 87 for a dash and a word that is no option word (the usage goes to stderr then).
    static int run(int argc, char** argv);
};
