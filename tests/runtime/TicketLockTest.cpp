// The session lock's order and its bounded wait.
#include "runtime/TicketLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

TEST(TicketLock, WaitersAreServedInTheOrderTheyAskedAndOneWhoGaveUpIsPassedOver) {
    using namespace std::chrono;
    TicketLock lock;
    lock.lock();
    // A wait that runs out leaves its place; the lock is still held by the first owner.
    const auto start = steady_clock::now();
    EXPECT_FALSE(lock.try_lock_for(milliseconds(50)));
    EXPECT_GE(steady_clock::now() - start, milliseconds(50));

    std::mutex orderLock;
    std::vector<int> order;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        // Each asks only after the one before has queued: the tickets follow i.
        std::thread t([&, i] {
            ASSERT_TRUE(lock.try_lock_for(seconds(10)));
            {
                std::lock_guard<std::mutex> guard(orderLock);
                order.push_back(i);
            }
            lock.unlock();
        });
        waiters.push_back(std::move(t));
        const auto limit = steady_clock::now() + seconds(5);
        while (lock.waiting() < static_cast<size_t>(i + 1) && steady_clock::now() < limit) std::this_thread::yield();
        EXPECT_EQ(lock.waiting(), static_cast<size_t>(i + 1));
    }
    lock.unlock();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    // Nothing is left held or queued.
    EXPECT_TRUE(lock.try_lock_for(milliseconds(0)));
    lock.unlock();
}
