#include "core/ipc/IpcConnectionCap.h"
#include "tests/core/ipc/IpcTestBytes.h"

#include <gtest/gtest.h>

namespace {

TEST(IpcConnectionCap, RefusesAtTheCapAndLogsEachEpisodeTwice) {
    // cap 4: an episode begins at the first refusal and ends at the first admission with at most
    // 2 alive; anything in between logs nothing.
    struct Step {
        std::size_t live;
        bool admitted;
        const char* line;  // expected text to log, "" for none
    };
    const Step steps[] = {
        {0, true, ""},
        {3, true, ""},
        {4, false, "connection cap of 4 reached: further connections are answered busy"},
        {4, false, ""},
        {5, false, ""},
        {3, true, ""},  // one below the cap: still the same episode
        {4, false, ""},
        {2, true, "connection cap of 4: 4 connections answered busy"},
        {3, true, ""},
        {4, false, "connection cap of 4 reached: further connections are answered busy"},
    };
    IpcConnectionCap cap(4);
    std::string line = "stale";
    int at = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("step " + std::to_string(at++));
        EXPECT_EQ(cap.admit(s.live, line), s.admitted);
        EXPECT_EQ(line, s.line);
    }
    EXPECT_EQ(cap.refusals(), 1u);
    EXPECT_EQ(cap.openEpisodeLine(), "connection cap of 4: 1 connections answered busy");

    IpcConnectionCap none(0);
    EXPECT_EQ(none.cap(), 1u);
    EXPECT_TRUE(none.admit(0, line));
    EXPECT_FALSE(none.admit(1, line));
    EXPECT_EQ(none.openEpisodeLine(), "connection cap of 1: 1 connections answered busy");
    EXPECT_TRUE(none.admit(0, line));
    EXPECT_EQ(none.openEpisodeLine(), "");
}

TEST(IpcConnectionCap, BusyReplyEchoesTheIdWithCode231AndNothingElse) {
    const Bytes busy101 = Hex("00 65  04 01 00 00 00 00 00 00 00 04 00 00 00 E7");
    Data reply = ToData(Hex("FF"));
    EXPECT_EQ(IpcConnectionCap::busyReply(ToData(Hex("00 65 01 01 00 00 00 00 00 00 00 04 00 00 00 00")), reply), 0);
    EXPECT_EQ(FromData(reply), busy101);
    EXPECT_EQ(IpcConnectionCap::busyReply(ToData(Hex("00 02")), reply), 0);
    EXPECT_EQ(FromData(reply), Hex("00 02  04 01 00 00 00 00 00 00 00 04 00 00 00 E7"));
    for (const Bytes& tooShort : {Bytes(), Hex("00")}) {
        EXPECT_EQ(IpcConnectionCap::busyReply(ToData(tooShort), reply), IpcConnectionCap::kNoFunctionId);
        EXPECT_EQ(reply.Size(), 0u);
    }

    // What a client must take for the busy answer, and what it must not: a handler's own 231
    // with a result after it, another function's, another code.
    const Data request = ToData(Hex("00 65 01 01"));
    const struct {
        const char* what;
        Bytes reply;
        bool busy;
    } cases[] = {
        {"the busy answer", busy101, true},
        {"a result after it", Concat({busy101, Hex("02 01 00 00 00 00 00 00 00 04 00 00 00 01")}), false},
        {"one byte short", Bytes(busy101.begin(), busy101.end() - 1), false},
        {"another function id", Hex("00 66  04 01 00 00 00 00 00 00 00 04 00 00 00 E7"), false},
        {"another code", Hex("00 65  04 01 00 00 00 00 00 00 00 04 00 00 00 E8"), false},
        {"a code in another direction", Hex("00 65  02 01 00 00 00 00 00 00 00 04 00 00 00 E7"), false},
        {"nothing", Bytes(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IpcConnectionCap::isBusyReply(request, ToData(c.reply)), c.busy);
    }
    EXPECT_FALSE(IpcConnectionCap::isBusyReply(ToData(Hex("00")), ToData(busy101)));
}

}  // namespace
