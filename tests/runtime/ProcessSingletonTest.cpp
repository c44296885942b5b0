#include "runtime/ProcessSingleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {
std::atomic<int> constructed{0};
std::atomic<int> destroyed{0};

struct Counted {
    Counted() {
        ++constructed;
        // Widens the window in which a second creator could slip in without the lock.
        for (volatile int i = 0; i < 100000; i = i + 1) {
        }
        value = 42;
    }
    ~Counted() { ++destroyed; }
    int value = 0;
};
}  // namespace

TEST(ProcessSingleton, ConcurrentFirstUseCreatesOneFullyBuiltObject) {
    constructed = 0;
    destroyed = 0;
    ProcessSingleton<Counted> singleton;
    EXPECT_FALSE(singleton.created());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    std::vector<Counted*> seen(8, nullptr);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Counted& object = singleton.get();
            if (object.value != 42) ++wrong;
            seen[t] = &object;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(constructed.load(), 1);
    EXPECT_EQ(wrong.load(), 0);
    for (Counted* p : seen) EXPECT_EQ(p, seen[0]);
    EXPECT_TRUE(singleton.created());

    singleton.destroy();
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_FALSE(singleton.created());
    singleton.get();  // created again on the next use
    EXPECT_EQ(constructed.load(), 2);
}

TEST(ProcessSingleton, FailedCreationIsRetried) {
    ProcessSingleton<int> singleton;
    int attempts = 0;
    auto failing = [&]() -> int* {
        ++attempts;
        throw std::runtime_error("not yet");
    };
    EXPECT_THROW(singleton.get(failing), std::runtime_error);
    EXPECT_FALSE(singleton.created());
    EXPECT_EQ(singleton.get([&] {
        ++attempts;
        return new int(7);
    }),
              7);
    EXPECT_EQ(attempts, 2);
}

TEST(ProcessSingleton, DestructorDeletesWhatIsLeft) {
    destroyed = 0;
    {
        ProcessSingleton<Counted> singleton;
        singleton.get();
    }
    EXPECT_EQ(destroyed.load(), 1);
}
