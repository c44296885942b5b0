#pragma once
// The bound on connections the service serves at once, and the answer a connection beyond it
// gets. admit() decides for each new connection from the number alive; a refused one is answered
// with busyReply() and closed, never queued. What to log comes back as a line, two per episode
// at the cap however many connections it refuses: one when the cap is reached, one with the
// count of refusals once the connections alive have fallen to half the cap. One thread (the pipe
// monitor's).
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>
#include <string>

class IpcConnectionCap {
public:
    // The return code of the busy answer: ERROR_PIPE_BUSY, what a client also gets when every
    // instance of the pipe is taken.
    static constexpr int32_t kBusy = 231;
    // busyReply() for a request too short to name its function.
    static constexpr int32_t kNoFunctionId = 24;  // ERROR_BAD_LENGTH

    // A cap of 0 counts as 1.
    explicit IpcConnectionCap(std::size_t cap);

    // Whether a connection arriving while live connections are alive is served. line is set to a
    // text to log, or emptied.
    bool admit(std::size_t live, std::string& line);
    // The line for an episode not yet over (for the end of the monitor), or empty.
    std::string openEpisodeLine() const;
    std::size_t cap() const { return cap_; }
    // Refusals of the episode under way (0 outside one).
    uint64_t refusals() const { return refusals_; }

    // The busy answer to request: its 2-byte function id and the return code kBusy. 0, or
    // kNoFunctionId (reply left empty).
    static int32_t busyReply(const Data& request, Data& reply);
    // True when reply is exactly busyReply(request), nothing more or less.
    static bool isBusyReply(const Data& request, const Data& reply);

private:
    std::size_t cap_;
    bool atCap_;
    uint64_t refusals_;
};
