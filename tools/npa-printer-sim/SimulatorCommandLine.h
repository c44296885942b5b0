#pragma once
// The command line of npa-printer-sim: which printers to serve and each one's scenario. Options
// before the first --device-path apply to every printer, options after one to that printer only;
// reply options apply to every request or, after --for NAME, to requests of that command.
// Portable; parse() never throws and reports the first bad option in words.
#include "tools/simulator/NpaPrinterEngine.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SimulatedPrinterOptions {
    std::string devicePath;
    NpaPrinterIdentity identity;
    NpaReplyBehaviour defaultBehaviour;
    std::map<NpaRequestKind, NpaReplyBehaviour> behaviours;
    bool silent = false;
    uint32_t alertEveryMs = 0;
    bool alertAlways = false;       // timer alerts also while no alert class is registered
    uint32_t unplugAfterMs = 0;     // 0: never
    uint32_t replugAfterMs = 0;     // after the unplug; 0: stays unplugged
    bool keepRegistrations = false; // a replug keeps the printer's registrations
};

class SimulatorCommandLine {
public:
    static constexpr const char* kDefaultDevicePath = "\\\\.\\pipe\\QvSim\\USB001";

    // args without the program name. False, with error set, on an unknown option, a missing or
    // bad value, or a device path outside \\.\pipe\ or given twice.
    bool parse(const std::vector<std::string>& args, std::string& error);
    // The --help text: every option, the commands read from standard input, an example.
    static std::string usage();

    std::vector<SimulatedPrinterOptions> printers;  // at least one after a successful parse
    uint32_t runForMs = 0;                          // 0: until Ctrl+C, "quit" or end of input
    bool noInput = false;                           // standard input is never read
    bool quiet = false;
    bool verbose = false;
    bool help = false;
};
