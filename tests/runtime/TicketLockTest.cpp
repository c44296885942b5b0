#include "runtime/TicketLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// True once lock has `count` waiters, within a bound.
bool waitForWaiters(const TicketLock& lock, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (lock.waiting() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}
}  // namespace

// Threads get the lock in the order they asked, also the holder that releases it and asks again
// at once; one that gives up loses its own place and nobody else's.
TEST(TicketLockTest, WaitersAreServedInTurnAndOneThatGivesUpLeavesOnlyItsOwnPlace) {
    TicketLock lock;
    std::mutex servedLock;
    std::vector<int> served;
    const auto serve = [&](int who) {
        std::lock_guard<std::mutex> guard(servedLock);
        served.push_back(who);
    };
    lock.lock();
    // The waiters give up within their bound whatever happens, so the joins below end.
    std::thread first([&] {
        if (!lock.tryLockFor(5000)) return;
        serve(1);
        lock.unlock();
    });
    ASSERT_TRUE(waitForWaiters(lock, 1));
    std::thread second([&] {
        if (!lock.tryLockFor(5000)) return;
        serve(2);
        lock.unlock();
    });
    ASSERT_TRUE(waitForWaiters(lock, 2));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lock.try_lock_for(std::chrono::milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(lock.waiting(), 2u);

    lock.unlock();
    const bool again = lock.tryLockFor(5000);
    if (again) {
        serve(3);
        lock.unlock();
    }
    first.join();
    second.join();
    EXPECT_TRUE(again);
    EXPECT_EQ(served, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(lock.waiting(), 0u);
}
