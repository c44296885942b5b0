#include "runtime/Exception.h"
#include "runtime/InterProcessLock.h"
#include "runtime/Mutex.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {
constexpr auto kBound = std::chrono::seconds(10);

// Runs fn on another thread and returns its result, failing the test if it takes too long.
template <typename Fn>
auto onOtherThread(Fn fn) -> decltype(fn()) {
    auto result = std::async(std::launch::async, fn);
    if (result.wait_for(kBound) != std::future_status::ready) {
        ADD_FAILURE() << "other thread did not finish in time";
        std::abort();  // a hung thread cannot be joined; end the test program instead of hanging
    }
    return result.get();
}
}  // namespace

TEST(Mutex, AcquireZeroIsFalseEvenWhenFree) {
    Mutex mutex;
    EXPECT_FALSE(mutex.acquire(0));
    EXPECT_FALSE(mutex.owned());
    // It did not even try: another thread gets it at once.
    EXPECT_TRUE(onOtherThread([&] {
        const bool got = mutex.acquire(1000);
        mutex.release();
        return got;
    }));
}

TEST(Mutex, OneReleaseUndoesNestedAcquisitions) {
    Mutex mutex;
    ASSERT_TRUE(mutex.acquire(1000));
    ASSERT_TRUE(mutex.acquire(1000));
    ASSERT_TRUE(mutex.acquire(1000));
    EXPECT_TRUE(mutex.owned());
    mutex.release();
    EXPECT_FALSE(mutex.owned());
    EXPECT_TRUE(onOtherThread([&] {
        const bool got = mutex.acquire(1000);
        mutex.release();
        return got;
    }));
}

TEST(Mutex, ReleaseFromAnotherThreadChangesNothing) {
    Mutex mutex;
    ASSERT_TRUE(mutex.acquire(1000));
    ASSERT_TRUE(mutex.acquire(1000));
    const bool otherGot = onOtherThread([&] {
        mutex.release();  // not the owner: ignored
        return mutex.acquire(50);
    });
    EXPECT_FALSE(otherGot);
    EXPECT_TRUE(mutex.owned());
    mutex.release();  // still ours, with the full count: undoes both and must not throw
    EXPECT_TRUE(onOtherThread([&] {
        const bool got = mutex.acquire(1000);
        mutex.release();
        return got;
    }));
}

TEST(Mutex, InitiallyOwnedAndNamed) {
    const std::string name = uniqueTestName("mutex");
    Mutex first(true, name);
    EXPECT_TRUE(first.owned());
    EXPECT_EQ(first.name(), name);
    // A second object on the same name from another thread: the system does not grant ownership
    // of an existing mutex, and the object must not claim it either.
    const bool secondClaims = onOtherThread([&] {
        Mutex second(true, name);
        const bool claims = second.owned();
        second.release();  // must not throw (ReleaseMutex on a mutex we do not own would)
        return claims || second.acquire(50);
    });
    EXPECT_FALSE(secondClaims);
    first.release();
    EXPECT_TRUE(onOtherThread([&] {
        Mutex second(false, name);
        const bool got = second.acquire(1000);
        second.release();
        return got;
    }));
}

TEST(Mutex, DestructorGivesUpOwnership) {
    const std::string name = uniqueTestName("mutex");
    Mutex keeper(false, name);
    {
        Mutex owner(false, name);
        ASSERT_TRUE(owner.acquire(1000));
        ASSERT_TRUE(owner.acquire(1000));
    }
    EXPECT_TRUE(onOtherThread([&] {
        const bool got = keeper.acquire(1000);
        keeper.release();
        return got;
    }));
}

TEST(InterProcessLock, UnnamedMutexIsRefused) {
    Mutex unnamed;
    try {
        InterProcessLock lock(unnamed);
        FAIL() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "InterProcessLock has no name");
        EXPECT_EQ(e.code(), 0);
        EXPECT_EQ(e.codeText(), "");
    }
    EXPECT_THROW(InterProcessLock(unnamed, 100), Win32Exception);
    EXPECT_FALSE(unnamed.owned());
}

TEST(InterProcessLock, HoldsForItsLifetime) {
    const std::string name = uniqueTestName("ipl");
    Mutex mutex(false, name);
    {
        InterProcessLock lock(mutex);
        EXPECT_TRUE(lock.acquired());
        EXPECT_TRUE(mutex.owned());
        EXPECT_FALSE(onOtherThread([&] {
            Mutex other(false, name);
            return other.acquire(50);
        }));
    }
    EXPECT_FALSE(mutex.owned());
    EXPECT_TRUE(onOtherThread([&] {
        Mutex other(false, name);
        InterProcessLock lock(other, 1000);
        return lock.acquired();
    }));
}

TEST(InterProcessLock, BoundedLockTimesOutWhileAnotherThreadHolds) {
    const std::string name = uniqueTestName("ipl");
    std::promise<void> held;
    std::promise<void> finish;
    auto holder = std::async(std::launch::async, [&] {
        Mutex mutex(false, name);
        InterProcessLock lock(mutex);
        held.set_value();
        finish.get_future().wait_for(kBound);
    });
    ASSERT_EQ(held.get_future().wait_for(kBound), std::future_status::ready);
    Mutex mine(false, name);
    const auto start = std::chrono::steady_clock::now();
    {
        InterProcessLock lock(mine, 200);
        EXPECT_FALSE(lock.acquired());
        EXPECT_FALSE(mine.owned());
    }  // must not release what it never got
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    finish.set_value();
    ASSERT_EQ(holder.wait_for(kBound), std::future_status::ready);
    InterProcessLock after(mine, 1000);
    EXPECT_TRUE(after.acquired());
}
