#include "runtime/TicketLock.h"

void TicketLock::lock() {
    std::unique_lock<std::mutex> guard(lock_);
    const uint64_t ticket = next_++;
    ++waiting_;
    turn_.wait(guard, [&] { return serving_ == ticket; });
    --waiting_;
}

void TicketLock::unlock() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++serving_;
        // Those who stopped waiting are passed over, or nobody would be served after them.
        while (gaveUp_.erase(serving_) != 0) ++serving_;
    }
    turn_.notify_all();
}

bool TicketLock::tryLockFor(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> guard(lock_);
    const uint64_t ticket = next_++;
    ++waiting_;
    const bool taken = turn_.wait_for(guard, wait, [&] { return serving_ == ticket; });
    --waiting_;
    if (!taken) gaveUp_.insert(ticket);
    return taken;
}

size_t TicketLock::waiting() {
    std::lock_guard<std::mutex> guard(lock_);
    return waiting_;
}
