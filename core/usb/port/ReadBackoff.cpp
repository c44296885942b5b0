#include "core/usb/port/ReadBackoff.h"

#include <algorithm>

uint32_t ReadBackoff::fail() {
    // The delay doubles on every fourth failure, before that failure's pause: a short hiccup
    // costs a millisecond or two, a dead device settles at one attempt a second.
    if (++failures_ >= kStep) {
        failures_ = 0;
        delay_ = std::min(2 * delay_, kMaxDelay);
    }
    return delay_;
}

void ReadBackoff::success() {
    delay_ = 1;
    failures_ = 0;
}
