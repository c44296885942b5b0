#pragma once
// When the read loop reopens the printer's pipes: after kThreshold failed reads in a row whose
// error says the device has gone (the printer was power-cycled or restarted without a device
// notification), and then at every further failure, paced by the loop's back-off, until a reopen
// works. Other errors, and any success, start the count over. Portable; the read thread only.
#include <cstdint>

class ReopenPolicy {
public:
    static constexpr uint32_t kThreshold = 3;
    // What the loop counts when it has no read pipe at all (ERROR_FILE_NOT_FOUND).
    static constexpr uint32_t kNoPipe = 2;

    // Broken pipe (109), pipe not connected (233: what Wine reports once the other end has
    // gone), device not connected (1167), file not found (2: the device path is not there).
    static bool isDeviceGone(uint32_t code);

    // Counts a failed read (or a failed reopen) with code; true when the pipes should be reopened now.
    bool fail(uint32_t code);
    // Data or an empty read arrived, or a reopen worked.
    void success() { consecutive_ = 0; }
    uint32_t consecutive() const { return consecutive_; }

private:
    uint32_t consecutive_ = 0;
};
