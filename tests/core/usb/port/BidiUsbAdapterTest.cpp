// The service's spooler probe over real local queues in the test prefix. Which queues it keeps
// for a port is checked here; a job's status is not: Wine 8's EnumJobsA and EnumJobsW are stubs
// (they fail without setting an error and report no jobs), and GetJob reports a job that is
// being written with status 0. The port's answer 170 is tested with a fake spooler.
#include "core/usb/port/BidiUsbAdapter.h"
#include "tests/support/PrintQueues.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

class BidiUsbAdapterTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(queues_.remove(), 0u); }

    PrintQueues queues_;
};

TEST_F(BidiUsbAdapterTest, KeepsTheQueuesThatPrintOnThePort) {
    const std::string single = queues_.add("USB921");
    const std::string pooled = queues_.add("USB922,USB923");
    const std::string longerName = queues_.add("USB9241");
    ASSERT_FALSE(single.empty() || pooled.empty() || longerName.empty());

    const struct {
        const char* port;
        Names queues;
    } cases[] = {
        {"USB921", {single}},  {"usb921", {single}}, {"USB922", {pooled}},
        {"USB923", {pooled}},  {"USB924", {}},       {"USB925", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        BidiUsbAdapter probe;
        EXPECT_FALSE(probe.isPrinting(c.port));
        EXPECT_EQ(probe.queues(), c.queues);
    }
}

TEST_F(BidiUsbAdapterTest, SeesAQueueAddedLaterAfterASecondOrAtOnceAfterAnArrival) {
    uint64_t now = 5000;
    for (const bool arrival : {false, true}) {
        SCOPED_TRACE(arrival ? "arrival" : "a second later");
        const std::string port = arrival ? "USB927" : "USB926";
        BidiUsbAdapter probe([&] { return now; });
        EXPECT_FALSE(probe.isPrinting(port));
        EXPECT_EQ(probe.queues(), Names());
        const std::string added = queues_.add(port);
        ASSERT_FALSE(added.empty());
        EXPECT_FALSE(probe.isPrinting(port));
        EXPECT_EQ(probe.queues(), Names());  // not listed again within the second
        if (arrival) {
            probe.lookAgain();
        } else {
            now += BidiUsbAdapter::kLookAgainMs;
        }
        EXPECT_FALSE(probe.isPrinting(port));
        EXPECT_EQ(probe.queues(), Names{added});
    }
}

TEST(BidiUsbAdapterThrottle, WithoutLocalQueuesOnThePortNothingPrintsAndTheQueuesAreLookedForAtMostOnceASecond) {
    // This host has no local printer queues: the probe must answer false and keep no handle.
    uint64_t now = 5000;
    BidiUsbAdapter adapter([&] { return now; });
    const struct {
        uint64_t advance;
        bool arrival;
        uint64_t lookups;
    } steps[] = {
        {0, false, 1},                                    // the first write looks
        {0, false, 1},                                    // the next ones do not
        {BidiUsbAdapter::kLookAgainMs - 1, false, 1},     // nor within the second
        {1, false, 2},                                    // a second later it looks again
        {0, true, 3},                                     // and at once after an arrival
        {0, false, 3},
    };
    for (const auto& step : steps) {
        now += step.advance;
        if (step.arrival) adapter.lookAgain();
        EXPECT_FALSE(adapter.isPrinting(step.lookups % 2 == 0 ? "usb001" : "USB001"));
        EXPECT_EQ(adapter.lookups(), step.lookups) << "at " << now;
    }
    EXPECT_TRUE(adapter.queues().empty());
}

}  // namespace
