#include "tools/tolvexctl/CtlCommandLine.h"

#include <cctype>
#include <cstddef>

namespace {

using Command = CtlCommandLine::Command;

struct CommandInfo {
    Command command;
    const char* name;
    const char* help;
};

// Which commands open the printer themselves is part of each text: a tool developer must know
// whether a setting survives the run.
const CommandInfo kCommands[] = {
    {Command::ClientId, "clientid",
     "usage: tolvexctl [--pipe NAME] clientid\n"
     "Asks the service for a new client id (BcxGetClientId) and prints it.\n"},
    {Command::Enum, "enum",
     "usage: tolvexctl [--pipe NAME] enum PORT\n"
     "Asks the service for the printer handle of PORT (BcxEnumSpecificPrinter), e.g.\n"
     "USB001 -> 0x2001, and prints it.\n"},
    {Command::Open, "open",
     "usage: tolvexctl [--pipe NAME] open PORT\n"
     "Opens a session on PORT (BcxOpenPrinterEx) and leaves it open when tolvexctl ends, so\n"
     "that set-timeout and set-language have a session to act on. Opens are counted: each open\n"
     "needs its close.\n"},
    {Command::Close, "close",
     "usage: tolvexctl [--pipe NAME] close PORT\n"
     "Closes one open of PORT (BcxClosePrinter); the last close ends the session.\n"},
    {Command::Exchange, "exchange",
     "usage: tolvexctl [--pipe NAME] exchange PORT COMMAND [Name=Value ...]\n"
     "Builds the NPA command COMMAND (e.g. queryAll, dcSummary, startJob, endJob JobId=5,\n"
     "rawData Data=A5000550E08100FF) with the NPA plug-in beside tolvexctl, sends it with\n"
     "BcxExchangeNpaPrinter, decodes the reply with the same command and prints each property\n"
     "as 'Name = Value', then the reply bytes. Values are put into the request text as given\n"
     "(Long: decimal; ByteArray: hex digits). Opens the printer before and closes it after.\n"},
    {Command::Raw, "raw",
     "usage: tolvexctl [--pipe NAME] raw PORT HEX\n"
     "Sends the NPA packet HEX (e.g. \"a5 00 05 50 e0 81 00 ff\") with BcxExchangeNpaPrinter\n"
     "and prints the reply bytes. Opens the printer before and closes it after.\n"},
    {Command::Watch, "watch",
     "usage: tolvexctl [--pipe NAME] watch PORT --mask M [--language ID] [--count N] [--for MS]\n"
     "Takes a client id, serves a callback pipe of its own, opens PORT, optionally sets the\n"
     "language id, registers for the alerts of mask M (decimal or 0x...) and prints each alert\n"
     "with a time stamp, its callback text and its bytes. Ends on Ctrl+C, after N alerts or\n"
     "after MS milliseconds; then unregisters and closes the printer.\n"},
    {Command::SetTimeout, "set-timeout",
     "usage: tolvexctl [--pipe NAME] set-timeout PORT MS\n"
     "Sets the reply time-out of PORT's session (BcxSetLongPrinter \"SET BIDI TIMEOUT\"), at most\n"
     "120000. Acts on an open session only (see open): without one the service answers 6.\n"},
    {Command::SetLanguage, "set-language",
     "usage: tolvexctl [--pipe NAME] set-language PORT ID\n"
     "Sets the language id of PORT's session (BcxSetStringPrinter \"SET LANGUAGE ID\"), e.g.\n"
     "0x0409. Acts on an open session only (see open): without one the service answers 6.\n"},
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
        "       tolvexctl COMMAND --help\n"
        "A client of the tolvex service. PORT is a USB port name such as USB001.\n"
        "The exit code is the service's return code; 2 or another system code when the service\n"
        "cannot be reached, 87 for a bad command line.\n\n"
        "Commands:\n";
    for (const CommandInfo& info : kCommands) text += std::string("  ") + info.name + "\n";
    text += "\nOptions:\n  --pipe NAME   service pipe name (default: brand prefix + \"_BidiAlertDataChannel_\")\n"
            "  --help        this text, or a command's help after the command\n";
    return text;
}

std::string CtlCommandLine::usage(Command command) {
    const CommandInfo* info = find(command);
    return info != nullptr ? info->help : usage();
}

bool CtlCommandLine::handleOfPort(const std::string& port, uint32_t& handle) {
    if (port.size() != 6) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(port[i])) != "USB"[i]) return false;
    }
    uint32_t n = 0;
    for (std::size_t i = 3; i < 6; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return false;
        n = n * 10 + static_cast<uint32_t>(port[i] - '0');
    }
    if (n == 0) return false;
    handle = (n & 0x7FF) | 0x2000;
    return true;
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
        } else if (!parseNumber(v, name == "--mask" ? mask : name == "--count" ? count : forMs)) {
            error = name + " takes a number, not '" + v + "'";
            return false;
        } else if (name == "--mask") {
            maskGiven = true;
        }
    }

    const std::string name = nameOf(command);
    const std::size_t wanted = operandsOf(command);
    if (command == Command::Exchange ? operands.size() < 2 : operands.size() != wanted) {
        error = name + " takes " +
                (command == Command::Exchange ? std::string("PORT COMMAND [Name=Value ...]")
                                              : std::to_string(wanted) + " argument(s)") +
                "; see tolvexctl " + name + " --help";
        return false;
    }
    if (wanted > 0) {
        port = operands[0];
        if (!handleOfPort(port, handle)) {
            error = "'" + port + "' is not a USB port name such as USB001";
            return false;
        }
    }
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
            error = "watch needs --mask M";
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
