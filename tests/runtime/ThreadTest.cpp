#include "runtime/Event.h"
#include "runtime/Exception.h"
#include "runtime/Thread.h"
#include "runtime/ThreadPool.h"
#include "tests/support/HandleSlots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {
// Blocks in run() until released (bounded), then records that it finished.
class Gate : public Runnable {
public:
    uint32_t run() override {
        ranOn = GetCurrentThreadId();
        entered.set();
        const bool opened = release.wait(10000);
        finished = true;
        return opened ? 7 : 1460;
    }
    Event entered{true, false};
    Event release{true, false};
    std::atomic<DWORD> ranOn{0};
    std::atomic<bool> finished{false};
};

uint32_t returnsUser(void* user) { return *static_cast<uint32_t*>(user); }

struct Worker {
    uint32_t work() { return ++calls + 100; }
    uint32_t calls = 0;
};

// Counts its runs and returns a code of its own.
struct Counted : Runnable {
    explicit Counted(uint32_t c) : code(c) {}
    uint32_t run() override {
        ++runs;
        ranOn = GetCurrentThreadId();
        return code;
    }
    const uint32_t code;
    std::atomic<int> runs{0};
    std::atomic<DWORD> ranOn{0};
};

// Every contract of Thread, on a thread of its own and on a pool's parked thread alike.
class ThreadTest : public ::testing::TestWithParam<bool> {
protected:
    ThreadPool* pool() { return GetParam() ? &pool_ : nullptr; }
    ThreadPool pool_{4};
};

INSTANTIATE_TEST_SUITE_P(OwnOrPooled, ThreadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Pooled" : "OwnThread"; });
}  // namespace

TEST_P(ThreadTest, StartReturnsOnlyAfterTheThreadHasBegun) {
    // Without the handshake start() would usually return before the new thread is scheduled,
    // above all at idle priority; many rounds make a missing wait show.
    uint32_t zero = 0;
    RunnableFunction nothing(&returnsUser, &zero);
    for (int round = 0; round < 100; ++round) {
        Thread thread(nothing, pool());
        if (round % 2 == 0) thread.setPriority(THREAD_PRIORITY_IDLE);
        EXPECT_FALSE(thread.hasBegun());
        thread.start();
        ASSERT_TRUE(thread.hasBegun()) << "round " << round;
        ASSERT_TRUE(thread.waitForEnd(10000));
    }
}

TEST_P(ThreadTest, RunsOnItsOwnThreadAndReportsWhileRunning) {
    Gate gate;
    Thread thread(gate, pool());
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(thread.threadId(), 0u);
    EXPECT_TRUE(thread.waitForEnd(0));  // nothing started: nothing to wait for
    thread.start();
    ASSERT_TRUE(gate.entered.wait(10000));
    EXPECT_EQ(gate.ranOn.load(), thread.threadId());
    EXPECT_NE(thread.threadId(), GetCurrentThreadId());
    EXPECT_TRUE(thread.isRunning());
    EXPECT_FALSE(thread.waitForEnd(20));
    EXPECT_EQ(thread.exitCode(), static_cast<uint32_t>(STILL_ACTIVE));
    gate.release.set();
    ASSERT_TRUE(thread.waitForEnd(10000));
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(thread.exitCode(), 7u);
}

TEST_P(ThreadTest, ExitCodeComesFromRun) {
    uint32_t value = 4242;
    RunnableFunction function(&returnsUser, &value);
    Worker worker;
    RunnableMethod<Worker> method(worker, &Worker::work);
    const struct {
        Runnable* runnable;
        uint32_t expected;
    } cases[] = {{&function, 4242}, {&method, 101}};
    for (const auto& c : cases) {
        Thread thread(*c.runnable, pool());
        thread.start();
        ASSERT_TRUE(thread.waitForEnd(10000));
        EXPECT_EQ(thread.exitCode(), c.expected);
    }
    EXPECT_EQ(worker.calls, 1u);
}

TEST_P(ThreadTest, ExceptionFromRunBecomesTheExitCode) {
    struct Throws : Runnable {
        explicit Throws(int which) : which_(which) {}
        uint32_t run() override {
            if (which_ == 0) throw Win32Exception("x", ERROR_GEN_FAILURE);
            if (which_ == 1) throw Exception("x", 0);
            throw std::runtime_error("x");
        }
        int which_;
    };
    const uint32_t expected[] = {ERROR_GEN_FAILURE, ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR};
    for (int which = 0; which < 3; ++which) {
        Throws runnable(which);
        Thread thread(runnable, pool());
        thread.start();
        ASSERT_TRUE(thread.waitForEnd(10000));
        EXPECT_EQ(thread.exitCode(), expected[which]) << which;
    }
}

TEST_P(ThreadTest, DestructorWaitsForRunToReturn) {
    Gate gate;
    {
        Thread thread(gate, pool());
        thread.start();
        ASSERT_TRUE(gate.entered.wait(10000));
        gate.release.set();
    }
    EXPECT_TRUE(gate.finished.load());
}

TEST_P(ThreadTest, CannotBeStartedTwiceOrQueriedBeforeStart) {
    uint32_t zero = 0;
    RunnableFunction nothing(&returnsUser, &zero);
    Thread thread(nothing, pool());
    EXPECT_THROW(thread.exitCode(), Win32Exception);
    thread.start();
    try {
        thread.start();
        FAIL() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "Thread::start()");
        EXPECT_NE(e.code(), 0);
    }
    EXPECT_TRUE(thread.waitForEnd(10000));
}

// A parked thread carries run after run; each Thread sees only its own: its end, its exit code,
// its end handle, one run of its runnable.
TEST(ThreadPoolTest, ParkedThreadCarriesRunAfterRunEachSeeingOnlyItsOwn) {
    ThreadPool pool(1);
    Counted first(11);
    Thread a(first, &pool);
    a.start();
    ASSERT_TRUE(a.waitForEnd(10000));
    ASSERT_TRUE(a.pooled());

    Gate gate;
    Thread b(gate, &pool);
    b.start();
    ASSERT_TRUE(gate.entered.wait(10000));
    EXPECT_TRUE(b.pooled());
    EXPECT_EQ(gate.ranOn.load(), first.ranOn.load());  // the same parked thread
    EXPECT_EQ(pool.created(), 1u);
    // The earlier run stays ended with its own code while the later one runs on its thread.
    EXPECT_FALSE(a.isRunning());
    EXPECT_TRUE(a.waitForEnd(0));
    EXPECT_EQ(a.exitCode(), 11u);
    EXPECT_EQ(WaitForSingleObject(a.endHandle(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    // The later one has not ended just because its thread's earlier run did.
    EXPECT_TRUE(b.isRunning());
    EXPECT_FALSE(b.waitForEnd(20));
    EXPECT_EQ(WaitForSingleObject(b.endHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(b.exitCode(), static_cast<uint32_t>(STILL_ACTIVE));
    gate.release.set();
    ASSERT_TRUE(b.waitForEnd(10000));
    EXPECT_EQ(WaitForSingleObject(b.endHandle(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(b.exitCode(), 7u);
    EXPECT_EQ(a.exitCode(), 11u);
    EXPECT_EQ(first.runs.load(), 1);
    EXPECT_EQ(pool.parked(), 1u);
}

TEST(ThreadPoolTest, AtItsBoundARunGetsAThreadOfItsOwn) {
    ThreadPool pool(1);
    Gate gate;
    Thread busy(gate, &pool);
    busy.start();
    ASSERT_TRUE(gate.entered.wait(10000));
    Counted other(5);
    Thread extra(other, &pool);
    extra.start();
    ASSERT_TRUE(extra.waitForEnd(10000));
    EXPECT_FALSE(extra.pooled());
    EXPECT_NE(other.ranOn.load(), gate.ranOn.load());
    EXPECT_EQ(extra.exitCode(), 5u);
    EXPECT_EQ(pool.threads(), 1u);
    EXPECT_EQ(pool.created(), 1u);
    gate.release.set();
    EXPECT_TRUE(busy.waitForEnd(10000));
}

// Once parked threads exist, starting runs on them makes no thread and keeps no handle; the
// pool's end ends its threads.
TEST(ThreadPoolTest, RunsOnParkedThreadsLeaveNothingBehindAndThePoolEndsItsThreads) {
    uintptr_t before = 0;
    std::vector<HANDLE> workers;
    {
        ThreadPool pool(2);
        Counted counted(3);
        for (int i = 0; i < 2; ++i) {
            Thread warmUp(counted, &pool);
            warmUp.start();
        }
        before = freshHandleValue();
        for (int i = 0; i < 50; ++i) {
            Thread thread(counted, &pool);
            thread.start();
            ASSERT_TRUE(thread.waitForEnd(10000));
            ASSERT_EQ(thread.exitCode(), 3u);
        }
        EXPECT_EQ(counted.runs.load(), 52);
        EXPECT_LE(pool.created(), 2u);
        EXPECT_EQ(handleValueSettledTo(before, freshHandleValue), before);
        HANDLE carrier = OpenThread(SYNCHRONIZE, FALSE, counted.ranOn.load());
        ASSERT_NE(carrier, nullptr);
        workers.push_back(carrier);
    }
    // The pool is gone: its threads have ended.
    for (HANDLE worker : workers) {
        EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(worker);
    }
}
