#pragma once
// The command line of tolvexctl: the global --pipe option, one command and its arguments, the
// help texts and the exit codes. Portable; parse() never throws and reports a bad line with a
// message. Values the service judges (port names, masks, time-outs, language ids) are left to
// it, so that tolvexctl reports the service's own code for them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CtlCommandLine {
    // The commands tolvexctl knows, in the order the overview lists them.
    enum class Command { None, Help, ClientId, Enum, Open, Close, Exchange, Raw, Watch, SetTimeout, SetLanguage };

    // Exit codes: the shell keeps 8 bits, so the service's code is printed and the exit code
    // says only which of these happened.
    static constexpr int kExitOk = 0;           // the service answered 0
    static constexpr int kExitRefused = 1;      // the service answered another code (printed)
    static constexpr int kExitUsage = 2;        // the command line is wrong; nothing was sent
    static constexpr int kExitUnreachable = 3;  // no answer from the service (system code printed)
    static constexpr int kExitLocal = 4;        // tolvexctl itself failed (plug-in, callback pipe)

    // --pipe NAME: the service pipe name without "\\.\pipe\"; empty for the branded default.
    std::string pipe;
    Command command = Command::None;
    // --help for the tool (command None) or for the command; "help COMMAND" sets helpFor.
    bool help = false;
    Command helpFor = Command::None;
    std::string port;
    // exchange: the NPA command name and its Name=Value properties in the order given.
    std::string npaCommand;
    std::vector<std::pair<std::string, std::string>> properties;
    // raw: the packet.
    std::vector<uint8_t> packet;
    // watch.
    uint32_t mask = 0;
    std::string language;
    bool hasLanguage = false;
    uint32_t count = 0;   // 0: no bound
    uint32_t forMs = 0;   // 0: no bound
    // set-timeout (milliseconds) and set-language (the id text).
    uint32_t value = 0;
    std::string text;

    // Fills this from args (without the program name); false with error set for a bad line.
    bool parse(const std::vector<std::string>& args, std::string& error);

    // The tool's overview (one line per command, options, exit codes), or one command's help.
    static std::string usage();
    static std::string usage(Command command);
    static const char* nameOf(Command command);

    // Decimal or 0x-hexadecimal, the whole text, within 32 bits.
    static bool parseNumber(const std::string& text, uint32_t& value);
    // A number, or alert class names joined by ',' or '+' (device-status, extension, panel,
    // extended, extended-language, all); false for anything else.
    static bool parseMask(const std::string& text, uint32_t& mask);
    // Pairs of hex digits, with blanks, ':' or '-' allowed between bytes; false for an empty
    // text, a lone digit or any other character.
    static bool parseHex(const std::string& text, std::vector<uint8_t>& bytes);
};
