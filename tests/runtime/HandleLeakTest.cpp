// Event, mutex, lock and thread objects give back every handle they open.
#include "runtime/Event.h"
#include "runtime/InterProcessLock.h"
#include "runtime/Mutex.h"
#include "runtime/Thread.h"
#include "TestNames.h"
#include "tests/support/HandleSlots.h"

#include <gtest/gtest.h>

namespace {
uint32_t signalAndReturn(void* user) {
    static_cast<Event*>(user)->set();
    return 0;
}

void oneRound(const std::string& name) {
    Event event(true, false, name + "-event", true);
    Event privateEvent(false, false);
    Mutex mutex(false, name + "-mutex", true);
    {
        InterProcessLock lock(mutex, 1000);
        EXPECT_TRUE(lock.acquired());
    }
    RunnableFunction body(&signalAndReturn, &privateEvent);
    Thread thread(body);
    thread.start();
    EXPECT_TRUE(privateEvent.wait(10000));
    EXPECT_TRUE(thread.waitForEnd(10000));
}
}  // namespace

TEST(HandleLeak, EventsMutexesAndThreadsGiveBackTheirHandles) {
    // One round first: the system opens some handles once per process on first use (the named
    // object directory, the thread machinery of the run-time library), which is not a leak.
    const std::string name = uniqueTestName("leak");
    oneRound(name);
    const uintptr_t before = freshHandleValue();
    constexpr int kRounds = 2000;
    for (int i = 0; i < kRounds; ++i) {
        oneRound(name + "-" + std::to_string(i));
        if (HasFatalFailure()) return;
    }
    const uintptr_t after = handleValueSettledTo(before + 4 * 4, freshHandleValue);
    // Slack of 4 handles: lazily created per-process objects that the first round did not yet
    // touch. One leaked handle per round would add 8000 to the value.
    EXPECT_LE(after, before + 4 * 4) << "before " << before << " after " << after;
}
