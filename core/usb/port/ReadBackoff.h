#pragma once
// The read loop's pause after failed reads: 1 ms at first, doubled after every fourth
// consecutive failure up to 1000 ms; a successful read starts over. Portable; one thread.
#include <cstdint>

class ReadBackoff {
public:
    static constexpr uint32_t kMaxDelay = 1000;
    static constexpr uint32_t kStep = 4;

    // Counts a failure and returns the pause to take now, in milliseconds.
    uint32_t fail();
    void success();
    uint32_t delay() const { return delay_; }

private:
    uint32_t delay_ = 1;
    uint32_t failures_ = 0;
};
