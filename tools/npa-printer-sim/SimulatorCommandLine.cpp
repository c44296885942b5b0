#include "tools/npa-printer-sim/SimulatorCommandLine.h"

#include <set>

namespace {

bool parseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > max) return false;
    value = static_cast<uint32_t>(n);
    return true;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

bool SimulatorCommandLine::parse(const std::vector<std::string>& args, std::string& error) {
    printers.clear();
    SimulatedPrinterOptions common;
    std::set<std::string> paths;
    bool anyPrinter = false;
    bool forAll = true;
    NpaRequestKind forKind = NpaRequestKind::Unknown;

    auto current = [&]() -> SimulatedPrinterOptions& { return anyPrinter ? printers.back() : common; };
    auto behaviour = [&]() -> NpaReplyBehaviour& {
        SimulatedPrinterOptions& p = current();
        if (forAll) return p.defaultBehaviour;
        auto found = p.behaviours.find(forKind);
        if (found == p.behaviours.end()) found = p.behaviours.emplace(forKind, p.defaultBehaviour).first;
        return found->second;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = option.find('=');
        if (startsWith(option, "--") && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
            hasValue = true;
        }
        auto takeValue = [&](std::string& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto takeNumber = [&](uint32_t max, uint32_t& out) {
            std::string text;
            if (!takeValue(text)) return false;
            if (!parseNumber(text, max, out)) {
                error = option + ": '" + text + "' is not a number from 0 to " + std::to_string(max);
                return false;
            }
            return true;
        };
        auto flag = [&](bool& out) {
            if (hasValue) {
                error = option + " takes no value";
                return false;
            }
            out = true;
            return true;
        };
        constexpr uint32_t kMaxMs = 86400000;  // a day
        uint32_t number = 0;
        bool ok = true;

        if (option == "--help" || option == "-h" || option == "/?") {
            ok = flag(help);
        } else if (option == "--device-path") {
            std::string path;
            ok = takeValue(path);
            if (ok && !startsWith(path, "\\\\.\\pipe\\")) {
                error = "--device-path: '" + path + "' is not a pipe path (\\\\.\\pipe\\...)";
                ok = false;
            } else if (ok && !paths.insert(path).second) {
                error = "--device-path: '" + path + "' is given twice";
                ok = false;
            } else if (ok) {
                printers.push_back(common);
                printers.back().devicePath = path;
                anyPrinter = true;
                forAll = true;
            }
        } else if (option == "--for") {
            std::string name;
            ok = takeValue(name);
            if (ok && name == "all") {
                forAll = true;
            } else if (ok && npaRequestKindFromName(name, forKind)) {
                forAll = false;
            } else if (ok) {
                error = "--for: '" + name + "' is not a command name (for example queryAll) or all";
                ok = false;
            }
        } else if (option == "--serial") {
            ok = takeValue(current().identity.serialNumber);
        } else if (option == "--model") {
            ok = takeValue(current().identity.model);
        } else if (option == "--manufacturer") {
            ok = takeValue(current().identity.manufacturer);
        } else if (option == "--max-packet") {
            ok = takeNumber(0xFFFF, number);
            if (ok) current().identity.maxPacketSize = static_cast<uint16_t>(number);
        } else if (option == "--language") {
            ok = takeNumber(0xFF, number);
            if (ok) current().identity.printerLanguage = static_cast<uint8_t>(number);
        } else if (option == "--delay") {
            ok = takeNumber(kMaxMs, behaviour().delayMs);
        } else if (option == "--ack") {
            ok = takeNumber(1000, behaviour().acks);
        } else if (option == "--ack-every") {
            ok = takeNumber(kMaxMs, behaviour().ackIntervalMs);
        } else if (option == "--split-at") {
            ok = takeNumber(0xFFFF + 3, behaviour().splitAt);
        } else if (option == "--fragment") {
            ok = takeNumber(0xFFFF, behaviour().fragmentSize);
        } else if (option == "--never-reply") {
            ok = flag(behaviour().neverReply);
        } else if (option == "--join") {
            ok = flag(behaviour().join);
        } else if (option == "--refuse-registration") {
            ok = flag(behaviour().refuseRegistration);
        } else if (option == "--alert-before-reply") {
            ok = flag(behaviour().alertBeforeReply);
        } else if (option == "--silent") {
            ok = flag(current().silent);
        } else if (option == "--alert-every") {
            ok = takeNumber(kMaxMs, current().alertEveryMs);
        } else if (option == "--alert-always") {
            ok = flag(current().alertAlways);
        } else if (option == "--unplug-after") {
            ok = takeNumber(kMaxMs, current().unplugAfterMs);
        } else if (option == "--replug-after") {
            ok = takeNumber(kMaxMs, current().replugAfterMs);
        } else if (option == "--keep-registrations") {
            ok = flag(current().keepRegistrations);
        } else if (option == "--run-for") {
            ok = takeNumber(kMaxMs, runForMs);
        } else if (option == "--no-input") {
            ok = flag(noInput);
        } else if (option == "--quiet") {
            ok = flag(quiet);
        } else if (option == "--verbose") {
            ok = flag(verbose);
        } else {
            error = "unknown option '" + args[i] + "'";
            ok = false;
        }
        if (!ok) {
            printers.clear();
            return false;
        }
    }
    if (!anyPrinter) {
        printers.push_back(common);
        printers.back().devicePath = kDefaultDevicePath;
    }
    return true;
}

std::string SimulatorCommandLine::usage() {
    return R"(npa-printer-sim - a simulated NPA printer on the device-pipe interface

Serves <PATH>\PIPE00 (the host writes requests) and <PATH>\PIPE01 (the printer
writes replies and alerts) for each printer, answers every request of the NPA
plug-in with a well-formed reply and prints one line per request.

usage: npa-printer-sim [options] [--device-path PATH [options]]...

Options before the first --device-path apply to every printer; options after
one apply to that printer alone. Values may follow as the next argument or
after '=' (--delay=500).

Printers
  --device-path PATH     serve a printer at PATH (default \\.\pipe\QvSim\USB001);
                         the same path goes into simulated-printers.xml
  --manufacturer TEXT    first field of the device summary (default Quorvel)
  --model TEXT           second field, and adapter variable 34 (default Q100 Series)
  --serial TEXT          serial number, third field (default SIM0001)
  --max-packet N         maximum packet size in the device summary (default 4096)
  --language N           printer language code, 0-255 (default 1)

Replies (to every request, or to the command named by the last --for)
  --for NAME             reply options that follow apply to requests NAME only:
                         startNpaMode, dcSummary, queryAll, getPrinterLanguage,
                         queryAdapterVariables, startJob, endJob, namePrintJob,
                         setJobId, setLastDate, aioLock, aioSwathLock,
                         aioLegacyLock, aioUnlock, registerForDeviceStatusAlerts,
                         registerForQuorvelExtendedAlerts,
                         registerForQuorvelExtendedAlertsWithLanguageId,
                         registerForQuorvelExtensionAlerts,
                         registerForPanelAlerts, unknown; "all" returns to
                         every request
  --delay MS             reply MS milliseconds late
  --never-reply          record the request but never reply
  --ack N                send N acknowledge packets (A5 00 05 40 FF 80 00 00)
                         before the reply
  --ack-every MS         space the acknowledges MS apart (the reply follows the
                         last one)
  --split-at K           write the reply as two writes cut at byte K; the second
                         goes only once the host has read the first
  --join                 put acknowledges, alert and reply in one write
  --fragment N           send the reply as continued packets of N data bytes
  --refuse-registration  refuse alert registrations (reply flags bit 7) and
                         stay unregistered
  --alert-before-reply   send an alert just before the reply

Printer behaviour
  --silent               write nothing at all: no reply, acknowledge or alert
  --alert-every MS       send an alert (command F0) every MS milliseconds while
                         an alert class is registered
  --alert-always         send the timed alerts even when nothing is registered
  --unplug-after MS      unplug MS after start (the host's reads fail, opens
                         fail with 2)
  --replug-after MS      plug back in MS after the unplug; a replug is a power
                         cycle that forgets the registrations...
  --keep-registrations   ...unless this is given

Program
  --run-for MS           exit after MS milliseconds
  --no-input             never read standard input: run until Ctrl+C or --run-for,
                         also when started from a script in the background
  --quiet                print only start, stop and failures
  --verbose              also print every write
  --help, -h             this text

Commands on standard input (a console or a pipe), for every printer:
  alert      send an alert now          unplug       unplug
  replug     replug, forgetting         replug-keep  replug, keeping registrations
  status     print what each printer saw                quit         exit
The program exits on Ctrl+C, on "quit", at the end of piped input (unless
--no-input is given), or when --run-for expires.

Example: two printers, the second slow and alerting every second
  npa-printer-sim --device-path \\.\pipe\QvSim\USB001 ^
                  --device-path \\.\pipe\QvSim\USB002 --delay 3000 --alert-every 1000
)";
}
