#pragma once
// The command line of tolvexctl: the global --pipe option, one command and its arguments, and
// the help texts. Portable; parse() never throws and reports a bad line with a message.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CtlCommandLine {
    // The commands tolvexctl knows, in the order the overview lists them.
    enum class Command { None, ClientId, Enum, Open, Close, Exchange, Raw, Watch, SetTimeout, SetLanguage };

    // --pipe NAME: the service pipe name without "\\.\pipe\"; empty for the branded default.
    std::string pipe;
    Command command = Command::None;
    // --help for the tool (command None) or for the command.
    bool help = false;
    std::string port;
    uint32_t handle = 0;
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

    // The tool's overview, or one command's help.
    static std::string usage();
    static std::string usage(Command command);
    static const char* nameOf(Command command);

    // The service's handle rule for "USB" + three digits (any case): (n & 0x7FF) | 0x2000. False
    // for any other name and for USB000.
    static bool handleOfPort(const std::string& port, uint32_t& handle);
    // Decimal or 0x-hexadecimal, the whole text, within 32 bits.
    static bool parseNumber(const std::string& text, uint32_t& value);
    // Pairs of hex digits, with blanks, ':' or '-' allowed between bytes; false for an empty
    // text, a lone digit or any other character.
    static bool parseHex(const std::string& text, std::vector<uint8_t>& bytes);
};
