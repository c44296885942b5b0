#pragma once
// A lock and a condition to wait on, for threads of one process. On Windows a slim reader/writer
// lock and a condition variable, which wait in user space; the standard library's mutex and
// condition variable of the posix thread model wait on kernel semaphores, and under Wine every
// such wait and wake-up is a round trip to the server. Elsewhere the standard pair. Not
// recursive; lock() and unlock() make it usable with std::lock_guard and std::unique_lock.
// Portable: builds in both trees.
#include <chrono>
#include <cstdint>
#include <memory>

class Monitor {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    void lock();
    void unlock();
    // With the lock held: releases it, waits until notified or milliseconds have passed, and
    // takes it again. False on time-out; a true result may be spurious.
    bool wait(uint32_t milliseconds);
    // With the lock held: waits until done() holds or milliseconds have passed; done()'s last
    // answer.
    template <typename Predicate>
    bool waitUntil(uint32_t milliseconds, Predicate done) {
        if (milliseconds == kInfinite) {
            while (!done()) wait(kInfinite);
            return true;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            // Rounded up, so that a wait never ends just before the deadline and spins.
            wait(static_cast<uint32_t>(left) + 1);
        }
        return true;
    }
    void notifyOne();
    void notifyAll();

private:
#ifdef _WIN32
    void* lock_ = nullptr;       // SRWLOCK
    void* condition_ = nullptr;  // CONDITION_VARIABLE
#else
    struct Impl;
    std::unique_ptr<Impl> impl_;
#endif
};
