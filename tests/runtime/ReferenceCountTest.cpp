#include "runtime/ReferenceCount.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(ReferenceCount, ReleaseAtZeroStaysZero) {
    ReferenceCount count;
    EXPECT_EQ(count.count(), 0);
    EXPECT_EQ(count.releaseReference(), 0);
    EXPECT_EQ(count.count(), 0);
    EXPECT_EQ(count.addReference(), 1);  // a stray release did not leave a debt behind
    EXPECT_EQ(count.addReference(), 2);
    EXPECT_EQ(count.releaseReference(), 1);
    EXPECT_EQ(count.releaseReference(), 0);
    EXPECT_EQ(count.releaseReference(), 0);
}

TEST(ReferenceCount, ConcurrentAddsAndReleasesBalance) {
    ReferenceCount count;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) count.addReference();
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(count.count(), 80000);
    threads.clear();
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) count.releaseReference();
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(count.count(), 0);
}
