#include "runtime/Event.h"
#include "runtime/Exception.h"
#include "runtime/Thread.h"

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
}  // namespace

TEST(Thread, StartReturnsOnlyAfterTheThreadHasBegun) {
    // Without the handshake start() would usually return before the new thread is scheduled,
    // above all at idle priority; many rounds make a missing wait show.
    uint32_t zero = 0;
    RunnableFunction nothing(&returnsUser, &zero);
    for (int round = 0; round < 100; ++round) {
        Thread thread(nothing);
        if (round % 2 == 0) thread.setPriority(THREAD_PRIORITY_IDLE);
        EXPECT_FALSE(thread.hasBegun());
        thread.start();
        ASSERT_TRUE(thread.hasBegun()) << "round " << round;
        ASSERT_TRUE(thread.waitForEnd(10000));
    }
}

TEST(Thread, RunsOnItsOwnThreadAndReportsWhileRunning) {
    Gate gate;
    Thread thread(gate);
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

TEST(Thread, ExitCodeComesFromRun) {
    uint32_t value = 4242;
    RunnableFunction function(&returnsUser, &value);
    Worker worker;
    RunnableMethod<Worker> method(worker, &Worker::work);
    const struct {
        Runnable* runnable;
        uint32_t expected;
    } cases[] = {{&function, 4242}, {&method, 101}};
    for (const auto& c : cases) {
        Thread thread(*c.runnable);
        thread.start();
        ASSERT_TRUE(thread.waitForEnd(10000));
        EXPECT_EQ(thread.exitCode(), c.expected);
    }
    EXPECT_EQ(worker.calls, 1u);
}

TEST(Thread, ExceptionFromRunBecomesTheExitCode) {
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
        Thread thread(runnable);
        thread.start();
        ASSERT_TRUE(thread.waitForEnd(10000));
        EXPECT_EQ(thread.exitCode(), expected[which]) << which;
    }
}

TEST(Thread, DestructorWaitsForRunToReturn) {
    Gate gate;
    {
        Thread thread(gate);
        thread.start();
        ASSERT_TRUE(gate.entered.wait(10000));
        gate.release.set();
    }
    EXPECT_TRUE(gate.finished.load());
}

TEST(Thread, CannotBeStartedTwiceOrQueriedBeforeStart) {
    uint32_t zero = 0;
    RunnableFunction nothing(&returnsUser, &zero);
    Thread thread(nothing);
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
