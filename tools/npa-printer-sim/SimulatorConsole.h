#pragma once
// The console program around NpaPrinterSimulator: starts one simulator per printer of the command
// line, prints one line per request (and per connection change), carries out the timed unplugs
// and replugs and the commands read from standard input, and stops every simulator before run()
// returns. Owned by main's thread.
#include "runtime/UniqueHandle.h"
#include "tools/npa-printer-sim/SimulatorCommandLine.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimulatorConsole {
public:
    explicit SimulatorConsole(const SimulatorCommandLine& commandLine);
    ~SimulatorConsole();
    SimulatorConsole(const SimulatorConsole&) = delete;
    SimulatorConsole& operator=(const SimulatorConsole&) = delete;

    // Serves until Ctrl+C, "quit", the end of piped input or --run-for. 0, or the system code of
    // a printer that could not start.
    int run();

    // The request line printed for one request (time and port first).
    static std::string requestLine(const std::string& port, const NpaReceivedRequest& request);

private:
    struct Printer;
    static BOOL WINAPI onConsoleControl(DWORD type);
    void print(const std::string& line, bool always = false);
    void onEvent(Printer& printer, const NpaSimulatorEvent& event);
    void startInputReader();
    void runCommand(const std::string& command);
    void printStatus();

    const SimulatorCommandLine& commandLine_;
    std::vector<std::unique_ptr<Printer>> printers_;
    std::mutex printMutex_;
};
