#pragma once
// A lock handed out in the order it was asked for, with a bounded wait: a thread that releases it
// and asks again at once queues behind those already waiting. A standard timed mutex promises no
// order, and with many threads asking some of them run out of time while others pass them again
// and again. Not recursive; lock(), unlock() and try_lock_for() make it usable with
// std::lock_guard and std::unique_lock. Any thread. Portable.
#include "runtime/Monitor.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>

class TicketLock {
public:
    TicketLock() = default;
    TicketLock(const TicketLock&) = delete;
    TicketLock& operator=(const TicketLock&) = delete;

    void lock();
    void unlock();
    // True with the lock taken, false when it did not come within milliseconds (the place in
    // the queue is given up).
    bool tryLockFor(uint32_t milliseconds);
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
        return tryLockFor(ms <= 0 ? 0u : ms >= Monitor::kInfinite ? Monitor::kInfinite - 1 : static_cast<uint32_t>(ms));
    }
    // Threads waiting for it now.
    size_t waiting() const;

private:
    mutable Monitor monitor_;  // everything below
    uint64_t next_ = 0;        // the ticket the next one to ask gets
    uint64_t serving_ = 0;     // the ticket whose holder has, or may take, the lock
    bool held_ = false;
    std::set<uint64_t> withdrawn_;  // tickets given up by waiters that ran out of time
};
