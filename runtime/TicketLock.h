#pragma once
// A lock handed out in the order it was asked for, with a bounded wait. A standard timed mutex
// promises no order: with many threads asking in turn, some run out of time while later ones
// pass them again and again. A thread whose wait runs out gives up its place in the queue. Not
// recursive; lock(), unlock() and try_lock_for() make it usable with std::lock_guard and
// std::unique_lock. Any thread. Portable.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>

class TicketLock {
public:
    TicketLock() = default;
    TicketLock(const TicketLock&) = delete;
    TicketLock& operator=(const TicketLock&) = delete;

    void lock();
    void unlock();
    // True with the lock taken; false when it did not come within wait.
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        return tryLockFor(std::chrono::duration_cast<std::chrono::milliseconds>(wait));
    }

    // Threads waiting for it now.
    size_t waiting();

private:
    bool tryLockFor(std::chrono::milliseconds wait);

    std::mutex lock_;
    std::condition_variable turn_;
    uint64_t next_ = 0;        // the ticket the next caller gets
    uint64_t serving_ = 0;     // the ticket that holds the lock or may take it now
    std::set<uint64_t> gaveUp_;  // tickets whose wait ran out before their turn
    size_t waiting_ = 0;
};
