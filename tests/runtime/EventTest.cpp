#include "runtime/Event.h"
#include "runtime/Exception.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

TEST(Event, WaitAfterSetErrorFailsOnceAndKeepsTheCode) {
    Event event(true, false);
    event.setError(1460);
    EXPECT_FALSE(event.wait(1000));
    EXPECT_EQ(event.errorCode(), 1460u);
    EXPECT_TRUE(event.wait(1000));  // manual reset: still signalled, the error mark is gone
    EXPECT_EQ(event.errorCode(), 1460u);
    event.reset();
    EXPECT_EQ(event.errorCode(), 0u);
    EXPECT_FALSE(event.wait(20));
}

TEST(Event, AutoResetErrorConsumesTheSignal) {
    Event event(false, false);
    event.setError(50);
    EXPECT_FALSE(event.wait(1000));
    EXPECT_EQ(event.errorCode(), 50u);
    EXPECT_FALSE(event.wait(20));  // time-out: the one signal went with the error
    event.set();
    EXPECT_TRUE(event.wait(1000));
    EXPECT_FALSE(event.isSignalled());
}

TEST(Event, SetClearsAnEarlierError) {
    Event event(true, false);
    event.setError(5);
    event.set();
    EXPECT_EQ(event.errorCode(), 0u);
    EXPECT_TRUE(event.wait(1000));
}

TEST(Event, TimeOutIsFalseAndBounded) {
    Event event(true, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.wait(100));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(80));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(event.isSignalled());
    EXPECT_EQ(event.errorCode(), 0u);
}

TEST(Event, ErrorSetOnAnotherThreadReachesTheWaiter) {
    Event event(false, false);
    auto waiter = std::async(std::launch::async, [&] { return event.wait(10000); });
    event.setError(1359);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(waiter.get());
    EXPECT_EQ(event.errorCode(), 1359u);
}

TEST(Event, NamedEventsShareTheSignal) {
    const std::string name = uniqueTestName("event");
    Event first(true, false, name, true);
    Event second(true, false, name, true);
    EXPECT_EQ(second.name(), name);
    first.set();
    EXPECT_TRUE(second.wait(1000));
    HANDLE handles[] = {first.handle(), second.handle()};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 1000), WAIT_OBJECT_0);
}

TEST(Event, FailuresRaiseTheirMessages) {
    // A name already used by a mutex cannot become an event (ERROR_INVALID_HANDLE).
    const std::string name = uniqueTestName("clash");
    UniqueHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    try {
        Event event(true, false, name);
        FAIL() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "Event::createEvent() failed");
        EXPECT_EQ(e.code(), ERROR_INVALID_HANDLE);
    }
}

TEST(Event, FailedWaitRaises) {
    Event event(true, false);
    // Only this thread runs here, so the closed slot is not reused before the destructor's close.
    ASSERT_TRUE(CloseHandle(event.handle()));
    try {
        event.wait(10);
        FAIL() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "Event::wait() failed");
        EXPECT_EQ(e.code(), ERROR_INVALID_HANDLE);
    }
    EXPECT_THROW(event.set(), Win32Exception);
    EXPECT_THROW(event.reset(), Win32Exception);
}
