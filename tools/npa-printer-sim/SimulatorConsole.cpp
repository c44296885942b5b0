#include "tools/npa-printer-sim/SimulatorConsole.h"

#include "runtime/Exception.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <iostream>
#include <thread>

namespace {

// What the Ctrl+C handler and the standard-input reader share with the main thread. The reader
// may still be blocked in a read when the program ends, so this is created once and never freed:
// nothing it uses can be closed under it.
struct ConsoleInput {
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // Ctrl+C, "quit", end of input
    HANDLE command = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;
    std::deque<std::string> lines;
};

ConsoleInput& consoleInput() {
    static ConsoleInput* input = new ConsoleInput;
    return *input;
}

std::string hex(const std::vector<uint8_t>& bytes, size_t max) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        if (i > 0) text.push_back(' ');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    if (bytes.size() > max) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

std::string timeNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string portOf(const std::string& devicePath) {
    const size_t slash = devicePath.find_last_of('\\');
    return slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
}

}  // namespace

struct SimulatorConsole::Printer {
    SimulatedPrinterOptions options;
    std::string port;
    std::unique_ptr<NpaPrinterSimulator> sim;
    uint64_t unplugAt = 0;  // GetTickCount64 times; 0: nothing planned
    uint64_t replugAt = 0;
};

SimulatorConsole::SimulatorConsole(const SimulatorCommandLine& commandLine) : commandLine_(commandLine) {}

SimulatorConsole::~SimulatorConsole() {
    for (auto& p : printers_) p->sim->stop();
}

std::string SimulatorConsole::requestLine(const std::string& port, const NpaReceivedRequest& request) {
    return timeNow() + " " + port + " " + npaRequestKindName(request.kind) + "  " + hex(request.bytes, 24) + "  -> " +
           request.outcome;
}

void SimulatorConsole::print(const std::string& line, bool always) {
    if (commandLine_.quiet && !always) return;
    std::lock_guard<std::mutex> lock(printMutex_);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void SimulatorConsole::onEvent(Printer& printer, const NpaSimulatorEvent& event) {
    const std::string head = timeNow() + " " + printer.port + " ";
    switch (event.kind) {
    case NpaSimulatorEvent::Kind::Request:
        print(requestLine(printer.port, event.request));
        break;
    case NpaSimulatorEvent::Kind::Wrote:
        if (commandLine_.verbose) print(head + "wrote " + event.text + " (" + std::to_string(event.bytes) + " bytes)");
        break;
    case NpaSimulatorEvent::Kind::Dropped:
        print(head + "dropped " + event.text);
        break;
    case NpaSimulatorEvent::Kind::HostConnected:
        print(head + "host opened " + event.pipe);
        break;
    case NpaSimulatorEvent::Kind::HostDisconnected:
        print(head + "host closed " + event.pipe + " (" + std::to_string(event.code) + ")");
        break;
    case NpaSimulatorEvent::Kind::Unplugged:
        print(head + "unplugged");
        break;
    case NpaSimulatorEvent::Kind::Plugged:
        print(head + (event.code == 0 ? "plugged in" : "plug in failed: " + std::to_string(event.code)));
        break;
    case NpaSimulatorEvent::Kind::Failed:
        print(head + "failed: " + event.text + " (" + std::to_string(event.code) + ")", true);
        break;
    }
}

BOOL WINAPI SimulatorConsole::onConsoleControl(DWORD) {
    SetEvent(consoleInput().quit);
    return TRUE;
}

// Piped input and a console are read for commands; the end of piped input quits. Other input
// (the null device, a file) is left alone, so that a program started with no input keeps running.
void SimulatorConsole::startInputReader() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const DWORD type = input == nullptr || input == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(input);
    if (type != FILE_TYPE_PIPE && !(type == FILE_TYPE_CHAR && GetConsoleMode(input, &mode))) return;
    // The reader blocks in a read that nothing can interrupt portably; it is left to end with the
    // process. It touches only the command queue, its event and the quit event, which live until
    // the process ends.
    std::thread([] {
        ConsoleInput& shared = consoleInput();
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            {
                std::lock_guard<std::mutex> lock(shared.mutex);
                shared.lines.push_back(line);
            }
            SetEvent(shared.command);
        }
        SetEvent(shared.quit);
    }).detach();
}

void SimulatorConsole::runCommand(const std::string& command) {
    if (command.empty()) return;
    if (command == "quit" || command == "exit") {
        SetEvent(consoleInput().quit);
        return;
    }
    if (command == "status") {
        printStatus();
        return;
    }
    for (auto& p : printers_) {
        if (command == "alert") {
            print(timeNow() + " " + p->port + (p->sim->sendAlert() ? " alert queued" : " alert not sent (silent or full)"), true);
        } else if (command == "unplug") {
            p->sim->unplug();
        } else if (command == "replug" || command == "replug-keep") {
            try {
                p->sim->replug(command == "replug");
            } catch (const Exception& e) {
                print(timeNow() + " " + p->port + " replug failed: " + e.message() + " (" + std::to_string(e.code()) + ")", true);
            }
        } else {
            print("unknown command '" + command + "' (alert, unplug, replug, replug-keep, status, quit)", true);
            return;
        }
    }
}

void SimulatorConsole::printStatus() {
    for (auto& p : printers_) {
        const auto requests = p->sim->requests();
        std::string line = timeNow() + " " + p->port + (p->sim->isPlugged() ? " plugged" : " unplugged") +
                           (p->sim->hostConnected() ? ", host connected" : ", no host") + ", " +
                           std::to_string(requests.size()) + " request(s) logged, " +
                           std::to_string(p->sim->writesCompleted()) + " write(s) read by the host, " +
                           std::to_string(p->sim->writesDropped()) + " dropped";
        if (p->sim->isRegistered()) {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%08X", static_cast<unsigned>(p->sim->registeredAlertMask()));
            line += ", registered for alert mask " + std::string(mask);
        } else {
            line += ", not registered";
        }
        print(line, true);
    }
}

int SimulatorConsole::run() {
    ConsoleInput& input = consoleInput();
    if (input.quit == nullptr || input.command == nullptr) return static_cast<int>(GetLastError());
    SetConsoleCtrlHandler(&SimulatorConsole::onConsoleControl, TRUE);

    const uint64_t start = GetTickCount64();
    int result = 0;
    for (const auto& options : commandLine_.printers) {
        std::unique_ptr<Printer> p(new Printer);
        p->options = options;
        p->port = portOf(options.devicePath);
        p->sim.reset(new NpaPrinterSimulator(options.devicePath, options.identity));
        p->sim->setDefaultBehaviour(options.defaultBehaviour);
        for (const auto& entry : options.behaviours) p->sim->setBehaviour(entry.first, entry.second);
        p->sim->setSilent(options.silent);
        if (options.alertEveryMs > 0) p->sim->setAlertTimer(options.alertEveryMs, !options.alertAlways);
        if (options.unplugAfterMs > 0) p->unplugAt = start + options.unplugAfterMs;
        Printer* raw = p.get();
        p->sim->setListener([this, raw](const NpaSimulatorEvent& event) { onEvent(*raw, event); });
        try {
            p->sim->start();
        } catch (const Exception& e) {
            print("npa-printer-sim: cannot serve " + options.devicePath + ": " + e.message() + " (" + std::to_string(e.code()) + ")", true);
            result = e.code() != 0 ? e.code() : 1;
            break;
        }
        print("serving " + options.devicePath + " (serial " + options.identity.serialNumber + ")", true);
        printers_.push_back(std::move(p));
    }
    if (result == 0) {
        if (commandLine_.noInput) {
            print("Ctrl+C or --run-for stops; standard input is not read (--no-input).");
        } else {
            print("Ctrl+C, \"quit\" or the end of piped input stops; type \"status\" to see what the printers saw.");
            startInputReader();
        }
        const uint64_t end = commandLine_.runForMs > 0 ? start + commandLine_.runForMs : 0;
        for (;;) {
            const uint64_t now = GetTickCount64();
            if (end != 0 && now >= end) break;
            uint64_t next = end;
            for (auto& p : printers_) {
                if (p->unplugAt != 0 && now >= p->unplugAt) {
                    p->unplugAt = 0;
                    p->sim->unplug();
                    if (p->options.replugAfterMs > 0) p->replugAt = now + p->options.replugAfterMs;
                }
                if (p->replugAt != 0 && now >= p->replugAt) {
                    p->replugAt = 0;
                    try {
                        p->sim->replug(!p->options.keepRegistrations);
                    } catch (const Exception& e) {
                        print(timeNow() + " " + p->port + " replug failed: " + e.message(), true);
                    }
                }
                for (uint64_t at : {p->unplugAt, p->replugAt}) {
                    if (at != 0 && (next == 0 || at < next)) next = at;
                }
            }
            const DWORD timeout = next == 0 ? INFINITE : static_cast<DWORD>(next > now ? next - now : 0);
            const HANDLE handles[2] = {input.quit, input.command};
            const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, timeout);
            if (woke == WAIT_OBJECT_0) break;
            if (woke == WAIT_OBJECT_0 + 1) {
                std::deque<std::string> commands;
                {
                    std::lock_guard<std::mutex> lock(input.mutex);
                    commands.swap(input.lines);
                }
                for (const auto& c : commands) runCommand(c);
            }
        }
    }
    for (auto& p : printers_) {
        if (!p->sim->stop()) print(p->port + ": the printer's worker did not stop in time", true);
    }
    if (result == 0) printStatus();
    SetConsoleCtrlHandler(&SimulatorConsole::onConsoleControl, FALSE);
    return result;
}
