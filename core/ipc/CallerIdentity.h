#pragma once
// Who sent a request: the user SID and process id read from the caller's pipe connection, never
// from anything the caller wrote. Privileged callers (LocalSystem, Administrators) may act on
// what any user holds; an ordinary caller only on what its own user holds; a caller whose
// identity could not be read holds nothing and may act on nothing. Portable value type.
#include <cstdint>
#include <string>

struct CallerIdentity {
    // Textual SID ("S-1-5-21-..."); empty when it could not be read.
    std::string userSid;
    uint32_t processId = 0;
    bool privileged = false;

    // LocalSystem: the service acting on its own behalf, and in-process callers standing for it.
    static CallerIdentity localSystem() {
        CallerIdentity system;
        system.userSid = "S-1-5-18";
        system.privileged = true;
        return system;
    }

    bool known() const { return !userSid.empty(); }
    // May act on something that belongs to the user with SID owner.
    bool mayActFor(const std::string& owner) const { return privileged || (known() && owner == userSid); }
    // "sid pid N" (or "unknown pid N"), for log lines.
    std::string describe() const {
        return (known() ? userSid : std::string("unknown")) + (privileged ? " (privileged)" : "") + " pid " +
               std::to_string(processId);
    }
};
