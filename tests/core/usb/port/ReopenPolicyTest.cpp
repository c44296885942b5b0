// When the read loop reopens the printer's pipes: only after device-gone failures in a row.
#include "core/usb/port/ReopenPolicy.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ReopenPolicyTest, ReopensAfterThreeDeviceGoneFailuresInARowAndAtEveryOneAfter) {
    struct Case {
        const char* name;
        std::vector<uint32_t> codes;  // 0: a read that worked
        std::vector<bool> reopen;     // the answer to each failure (ignored for 0)
    };
    const Case cases[] = {
        {"broken pipe", {109, 109, 109, 109}, {false, false, true, true}},
        {"pipe not connected (Wine)", {233, 233, 233}, {false, false, true}},
        {"device not connected", {1167, 1167, 1167}, {false, false, true}},
        {"file not found (reopen failed)", {2, 2, 2, 2, 2}, {false, false, true, true, true}},
        {"mixed device-gone codes count together", {109, 233, 2}, {false, false, true}},
        {"a read that worked starts over", {109, 109, 0, 109, 109, 109}, {false, false, false, false, false, true}},
        {"time-out or cancel is no sign of a gone device", {109, 109, 1460, 109, 109}, {false, false, false, false, false}},
        {"other errors never reopen", {31, 31, 31, 31, 995, 995, 995}, {false, false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReopenPolicy policy;
        ASSERT_EQ(c.codes.size(), c.reopen.size());
        for (size_t i = 0; i < c.codes.size(); ++i) {
            if (c.codes[i] == 0) {
                policy.success();
                EXPECT_EQ(policy.consecutive(), 0u);
                continue;
            }
            EXPECT_EQ(policy.fail(c.codes[i]), c.reopen[i]) << "failure " << i << " code " << c.codes[i];
        }
    }
}

TEST(ReopenPolicyTest, AReopenThatWorkedNeedsAFreshRunOfFailures) {
    ReopenPolicy policy;
    for (int i = 0; i < 3; ++i) policy.fail(109);
    EXPECT_EQ(policy.consecutive(), 3u);
    policy.success();  // the pipes opened again
    EXPECT_FALSE(policy.fail(109));
    EXPECT_FALSE(policy.fail(109));
    EXPECT_TRUE(policy.fail(109));
    EXPECT_TRUE(ReopenPolicy::isDeviceGone(ReopenPolicy::kNoPipe));
}
