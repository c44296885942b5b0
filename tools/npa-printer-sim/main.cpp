// npa-printer-sim: serves simulated NPA printers on the device-pipe interface until Ctrl+C, "quit",
// the end of piped input or --run-for. Exit code 0, 87 for a bad command line, or the system code
// of a printer that could not be served.
#include "tools/npa-printer-sim/SimulatorCommandLine.h"
#include "tools/npa-printer-sim/SimulatorConsole.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    SimulatorCommandLine commandLine;
    std::string error;
    if (!commandLine.parse(args, error)) {
        std::fprintf(stderr, "npa-printer-sim: %s\nTry npa-printer-sim --help.\n", error.c_str());
        return 87;  // ERROR_INVALID_PARAMETER
    }
    if (commandLine.help) {
        std::fputs(SimulatorCommandLine::usage().c_str(), stdout);
        return 0;
    }
    SimulatorConsole console(commandLine);
    return console.run();
}
