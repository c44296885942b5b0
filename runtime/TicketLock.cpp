#include "runtime/TicketLock.h"

#include <mutex>

void TicketLock::lock() {
    std::lock_guard<Monitor> guard(monitor_);
    const uint64_t ticket = next_++;
    monitor_.waitUntil(Monitor::kInfinite, [&] { return serving_ == ticket; });
    held_ = true;
}

bool TicketLock::tryLockFor(uint32_t milliseconds) {
    std::lock_guard<Monitor> guard(monitor_);
    const uint64_t ticket = next_++;
    if (!monitor_.waitUntil(milliseconds, [&] { return serving_ == ticket; })) {
        // Still queued (serving_ cannot move while the monitor is held): whoever's turn reaches
        // this ticket passes it on.
        withdrawn_.insert(ticket);
        return false;
    }
    held_ = true;
    return true;
}

void TicketLock::unlock() {
    {
        std::lock_guard<Monitor> guard(monitor_);
        held_ = false;
        ++serving_;
        while (withdrawn_.erase(serving_) != 0) ++serving_;
    }
    // Every waiter looks whether its ticket is served: the one that is takes the lock.
    monitor_.notifyAll();
}

size_t TicketLock::waiting() const {
    std::lock_guard<Monitor> guard(monitor_);
    return static_cast<size_t>(next_ - serving_) - (held_ ? 1 : 0) - withdrawn_.size();
}
