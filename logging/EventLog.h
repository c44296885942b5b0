#pragma once
// What an administrator must see without the debug log: the service's start, stop and the
// failures that stop it or keep printers from being served, written to the Application event
// log under the source the entry point names (the service's name; the installer registers it
// with tolvex.exe's message table). Entries reported before a source is named are held, at most
// kHeldEntries of them, and written when it is; a process that never names one (the command-line
// modes, tests) writes nothing. Any thread may report; report() never raises or blocks on
// another process. Windows only.
#include <cstdint>
#include <string>
#include <vector>

class EventLog {
public:
    // Message ids of logging/EventMessages.mc; the top two bits are the severity.
    enum Id : uint32_t {
        ServiceStarted = 0x40000001,   // version, service pipe
        ServiceStopped = 0x40000002,   //
        StartFailed = 0xC0000003,      // message, code
        StopFailed = 0x80000004,       // message, code
        PluginFailed = 0xC0000005,     // library file, protocol, code
        NoPlugin = 0xC0000006,         // folder
        PrinterReadFailed = 0xC0000007,  // port name
        UnexpectedFailure = 0xC0000008,  // message, code
        PrinterReadStuck = 0x80000009,   // port name, milliseconds waited
    };
    static constexpr size_t kHeldEntries = 16;

    // Names the source (and so the %1 of every entry) and writes the held entries.
    static void setSource(const std::string& serviceName);
    // Writes one entry: %1 is the source, inserts are %2, %3, ... False when it was dropped or
    // the system refused it; true when written or held.
    static bool report(Id id, const std::vector<std::string>& inserts = {});
    // The Windows entry type of an id: error, warning or information.
    static uint16_t typeOf(Id id);
    // The source's registration under the Application log, as the installer package makes it:
    // the message table is in messageFile (a path without quotes). 0 or the system's code.
    static uint32_t registerSource(const std::string& serviceName, const std::string& messageFile);
    // Removes that registration; a source that is not registered counts as removed.
    static uint32_t unregisterSource(const std::string& serviceName);
    static std::string sourceKey(const std::string& serviceName);
    // Forgets the source and the held entries (for tests).
    static void reset();
};
