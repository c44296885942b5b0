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

TEST_F(BidiUsbAdapterTest, FindsAQueueAddedAfterItFirstLooked) {
    BidiUsbAdapter probe;
    EXPECT_FALSE(probe.isPrinting("USB926"));
    EXPECT_EQ(probe.queues(), Names());
    const std::string added = queues_.add("USB926");
    ASSERT_FALSE(added.empty());
    EXPECT_FALSE(probe.isPrinting("USB926"));
    EXPECT_EQ(probe.queues(), Names{added});
}

}  // namespace
