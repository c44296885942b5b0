#include "tools/tolvexctl/CtlCommandLine.h"

#include "include/TolvexProtocol.h"

#include <cstddef>

namespace {

using Command = CtlCommandLine::Command;

struct CommandInfo {
    Command command;
    const char* name;
    const char* synopsis;  // after "tolvexctl [--pipe NAME] "
    const char* summary;   // its line in the overview
    const char* details;
};

// Which commands open the printer themselves is part of each text: a tool developer must know
// whether a setting survives the run.
const CommandInfo kCommands[] = {
    {Command::ClientId, "clientid", "clientid", "ask the service for a new client id",
     "Asks the service for a client id (BcxGetClientId) and prints it. A client needs one to\n"
     "register for alerts; it belongs to the user who asked.\n"},
    {Command::Enum, "enum", "enum PORT", "print the printer handle of PORT",
     "Asks the service for the printer handle of PORT (BcxEnumSpecificPrinter): USB001 gives\n"
     "0x2001. A name that is not USB and three digits is refused with 1796.\n"},
    {Command::Open, "open", "open PORT", "open a session on PORT and leave it open",
     "Opens a session on PORT (BcxOpenPrinterEx) and leaves it open when tolvexctl ends, so\n"
     "that set-timeout and set-language have a session to act on. Opens are counted per user:\n"
     "each open needs its close.\n"},
    {Command::Close, "close", "close PORT", "give back one open of PORT",
     "Closes one open of PORT (BcxClosePrinter); the last close ends the session with its\n"
     "registrations and settings.\n"},
    {Command::Exchange, "exchange", "exchange PORT COMMAND [Name=Value ...]",
     "send an NPA command built by the plug-in, print the decoded reply",
     "Builds the NPA command COMMAND with the NPA plug-in beside tolvexctl, sends it with\n"
     "BcxExchangeNpaPrinter, decodes the reply with the same command and prints each decoded\n"
     "property as 'Name = Value', then the reply bytes. Values go into the request as given\n"
     "(Long: decimal; ByteArray: hex digits). Opens the printer before and closes it after.\n"
     "\n"
     "Commands and what their replies decode to:\n"
     "  queryAll                NpaResponse = 1 when the reply answers the request;\n"
     "                          HbnResponse = 1 when the printer used the alternative answer\n"
     "                          form (byte 7 F0 instead of the request's FF), else 0\n"
     "  dcSummary               Manufacturer, Model, SerialNumber, MaxWritePacketSize (the\n"
     "                          largest packet the printer takes), NpaRevisionLevel (3 bytes)\n"
     "  getPrinterLanguage      PrinterLanguage (the printer's language code)\n"
     "  queryAdapterVariables   one Component (Comp, Vid, Data) per adapter variable\n"
     "  aioLock, aioSwathLock,  AioLocked = 1 when the printer granted the lock\n"
     "  aioLegacyLock, aioUnlock\n"
     "  setJobId TripletJobId=HEX, setLastDate LastDate=N, namePrintJob JobId=N JobName=...,\n"
     "  rawData Data=HEX        sent as built; nothing is decoded\n"
     "  startJob, endJob        refused by the service (5): jobs are the print path's business\n"
     "  startNpaMode            not sent: the service puts the printer into NPA mode itself and\n"
     "                          answers this request at once\n"
     "DecodeReply = N is printed when a reply could not be decoded (1629: not an answer to\n"
     "the request, 11: too short).\n"},
    {Command::Raw, "raw", "raw PORT HEX", "send an NPA packet, print the reply bytes",
     "Sends the NPA packet HEX (e.g. \"a5 00 05 50 e0 81 00 ff\") with BcxExchangeNpaPrinter\n"
     "and prints the reply bytes. The service refuses packets that are not complete NPA packets\n"
     "or that start or end a job (5). Opens the printer before and closes it after.\n"},
    {Command::Watch, "watch", "watch PORT --mask M [--language ID] [--count N] [--for MS]",
     "serve a callback pipe, register for alerts, print each alert",
     "Takes a client id, serves a callback pipe of its own, opens PORT, optionally sets the\n"
     "language id, registers for the alert classes of M and prints each alert with a time\n"
     "stamp, its bytes and its callback text. Ends on Ctrl+C, after N alerts or after MS\n"
     "milliseconds; then unregisters and closes the printer.\n"
     "\n"
     "M is a number (decimal or 0x...) or class names joined by ',' or '+':\n"
     "  device-status       bits 0-9    0x000003FF\n"
     "  extension           bits 10-18  0x0007FC00\n"
     "  panel               bit 19      0x00080000\n"
     "  extended            bit 20      0x00100000\n"
     "  extended-language   bits 21-25  0x03E00000  (sends the language id along)\n"
     "  all                             0x03FFFFFF\n"
     "Each class is one registration packet; the bits of a class are its packet bits. The\n"
     "printer is asked for the classes of all registered clients together, and every alert it\n"
     "sends reaches every registered client, whatever that client's own mask.\n"},
    {Command::SetTimeout, "set-timeout", "set-timeout PORT MS", "reply time-out of the session's next exchange",
     "Sets the reply time-out (BcxSetLongPrinter \"SET BIDI TIMEOUT\") of the next exchange on\n"
     "PORT's session, whichever client makes it; after it the time-out is 10000 ms again. MS is\n"
     "1 to 120000 (the service answers 87 otherwise). Acts on an open session only (see open):\n"
     "without one the service answers 6.\n"},
    {Command::SetLanguage, "set-language", "set-language PORT ID", "language id for the next alert registration",
     "Sets the language id (BcxSetStringPrinter \"SET LANGUAGE ID\") that the next alert\n"
     "registration on PORT sends with the extended-language class: up to eight hex digits after\n"
     "an optional 0x, e.g. 0x0409, or empty (the service answers 87 otherwise). Acts on an open\n"
     "session only (see open): without one the service answers 6.\n"},
    {Command::Help, "help", "help [COMMAND]", "this overview, or one command's help", ""},
};

struct MaskClass {
    const char* name;
    uint32_t mask;
};

const MaskClass kMaskClasses[] = {
    {"device-status", TOLVEX_ALERT_DEVICE_STATUS},
    {"extension", TOLVEX_ALERT_EXTENSION},
    {"panel", TOLVEX_ALERT_PANEL},
    {"extended", TOLVEX_ALERT_EXTENDED},
    {"extended-language", TOLVEX_ALERT_EXTENDED_LANGUAGE},
    {"all", TOLVEX_ALERT_ALL},
};

const CommandInfo* find(const std::string& name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

const CommandInfo* find(Command command) {
    for (const CommandInfo& info : kCommands) {
        if (command == info.command) return &info;
    }
    return nullptr;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// How many operands each command takes after its name (options not counted).
std::size_t operandsOf(Command command) {
    switch (command) {
    case Command::ClientId: return 0;
    case Command::SetTimeout:
    case Command::SetLanguage:
    case Command::Raw: return 2;
    default: return 1;
    }
}

}  // namespace

const char* CtlCommandLine::nameOf(Command command) {
    const CommandInfo* info = find(command);
    return info != nullptr ? info->name : "";
}

std::string CtlCommandLine::usage() {
    std::string text =
        "usage: tolvexctl [--pipe NAME] COMMAND [ARGS]\n"
        "       tolvexctl help [COMMAND]   (or tolvexctl COMMAND --help)\n"
        "A client of the tolvex service for printer-tool developers. PORT is a USB port name\n"
        "such as USB001.\n\n"
        "Commands:\n";
    for (const CommandInfo& info : kCommands) {
        const std::string synopsis = info.synopsis;
        text += "  " + synopsis;
        text += synopsis.size() < 22 ? std::string(24 - synopsis.size(), ' ') : "\n" + std::string(26, ' ');
        text += std::string(info.summary) + "\n";
    }
    text +=
        "\nOptions:\n"
        "  --pipe NAME             the service pipe's name (default: brand prefix +\n"
        "                          \"_BidiAlertDataChannel_\")\n"
        "  --help                  this text, or a command's help after the command\n"
        "\nExit codes (exit codes keep 8 bits, so the service's own code is always printed):\n"
        "  0  the service answered 0\n"
        "  1  the service answered another code: \"the service answered N: ...\" on stderr\n"
        "  2  the command line is wrong; nothing was sent\n"
        "  3  no answer from the service; the system code is printed (2: the service pipe does\n"
        "     not exist, 1460: no answer in time, 109: closed without a reply)\n"
        "  4  tolvexctl failed itself (the NPA plug-in could not be loaded, the callback pipe\n"
        "     failed)\n";
    return text;
}

std::string CtlCommandLine::usage(Command command) {
    const CommandInfo* info = find(command);
    if (info == nullptr || command == Command::Help) return usage();
    return std::string("usage: tolvexctl [--pipe NAME] ") + info->synopsis + "\n" + info->details;
}

bool CtlCommandLine::parseNumber(const std::string& text, uint32_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t first = hex ? 2 : 0;
    if (text.size() <= first) return false;
    const uint64_t base = hex ? 16 : 10;
    uint64_t n = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0 || static_cast<uint64_t>(d) >= base) return false;
        n = n * base + static_cast<uint64_t>(d);
        if (n > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(n);
    return true;
}

bool CtlCommandLine::parseMask(const std::string& text, uint32_t& mask) {
    if (parseNumber(text, mask)) return true;
    uint32_t combined = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = text.find_first_of(",+", at);
        const std::string name = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const MaskClass* found = nullptr;
        for (const MaskClass& c : kMaskClasses) {
            if (name == c.name) found = &c;
        }
        if (found == nullptr) return false;
        combined |= found->mask;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    mask = combined;
    return true;
}

bool CtlCommandLine::parseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d >= 0) {
            if (high < 0) {
                high = d;
            } else {
                out.push_back(static_cast<uint8_t>(high * 16 + d));
                high = -1;
            }
        } else if ((c == ' ' || c == ':' || c == '-') && high < 0) {
            continue;
        } else {
            return false;
        }
    }
    if (high >= 0 || out.empty()) return false;
    bytes.swap(out);
    return true;
}

bool CtlCommandLine::parse(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "/?") {
            help = true;
        } else if (a == "--pipe" || a == "--mask" || a == "--language" || a == "--count" || a == "--for") {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            options.emplace_back(a, args[++i]);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        } else if (command == Command::None) {
            const CommandInfo* info = find(a);
            if (info == nullptr) {
                error = "unknown command '" + a + "'";
                return false;
            }
            command = info->command;
        } else {
            operands.push_back(a);
        }
    }
    if (command == Command::Help) {
        if (operands.size() > 1) {
            error = "help takes at most one command name";
            return false;
        }
        const CommandInfo* info = operands.empty() ? nullptr : find(operands[0]);
        if (!operands.empty() && info == nullptr) {
            error = "unknown command '" + operands[0] + "'";
            return false;
        }
        help = true;
        command = info != nullptr ? info->command : Command::None;
    }
    if (help) return true;
    if (command == Command::None) {
        error = "no command given";
        return false;
    }

    bool maskGiven = false;
    for (const auto& option : options) {
        const std::string& name = option.first;
        const std::string& v = option.second;
        if (name == "--pipe") {
            if (v.empty() || v.find_first_of("\\/:") != std::string::npos) {
                error = "--pipe takes a plain pipe name without \\\\.\\pipe\\";
                return false;
            }
            pipe = v;
            continue;
        }
        if (command != Command::Watch) {
            error = name + " belongs to watch";
            return false;
        }
        if (name == "--language") {
            language = v;
            hasLanguage = true;
        } else if (name == "--mask") {
            if (!parseMask(v, mask)) {
                error = "--mask takes a number or alert class names, not '" + v + "'; see tolvexctl help watch";
                return false;
            }
            maskGiven = true;
        } else if (!parseNumber(v, name == "--count" ? count : forMs)) {
            error = name + " takes a number, not '" + v + "'";
            return false;
        }
    }

    const std::string name = nameOf(command);
    const std::size_t wanted = operandsOf(command);
    if (command == Command::Exchange ? operands.size() < 2 : operands.size() != wanted) {
        error = name + " takes " +
                (command == Command::Exchange ? std::string("PORT COMMAND [Name=Value ...]")
                                              : std::to_string(wanted) + " argument(s)") +
                "; see tolvexctl help " + name;
        return false;
    }
    // The port name is the service's to judge: it answers 1796 for one it does not take.
    if (wanted > 0) port = operands[0];
    switch (command) {
    case Command::Exchange:
        npaCommand = operands[1];
        for (std::size_t i = 2; i < operands.size(); ++i) {
            const std::size_t eq = operands[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "'" + operands[i] + "' is not Name=Value";
                return false;
            }
            properties.emplace_back(operands[i].substr(0, eq), operands[i].substr(eq + 1));
        }
        break;
    case Command::Raw:
        if (!parseHex(operands[1], packet)) {
            error = "'" + operands[1] + "' is not a packet in hex";
            return false;
        }
        break;
    case Command::Watch:
        if (!maskGiven) {
            error = "watch needs --mask M; see tolvexctl help watch";
            return false;
        }
        break;
    case Command::SetTimeout:
        if (!parseNumber(operands[1], value)) {
            error = "'" + operands[1] + "' is not a number of milliseconds";
            return false;
        }
        break;
    case Command::SetLanguage:
        text = operands[1];
        break;
    default:
        break;
    }
    return true;
}
