// The packet protocol against the simulated printer's engine: replies matched and captured,
// acknowledge packets extending the wait, time-outs, requests without a reply, refusals.
#include "core/usb/port/NpaPacketProtocol.h"
#include "tests/core/usb/port/EnginePort.h"
#include "tests/core/usb/port/NpaCommandBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct RecordingSession : PacketSink {
    void onPacket(const Data& packet) override {
        std::lock_guard<std::mutex> guard(lock);
        packets.emplace_back(packet.Bytes(), packet.Bytes() + packet.Size());
    }
    size_t count() {
        std::lock_guard<std::mutex> guard(lock);
        return packets.size();
    }
    std::mutex lock;
    std::vector<std::vector<uint8_t>> packets;
};

Data request(NpaTestLookup& lookup, const char* name) { return npaCommandData(lookup, name); }

std::vector<uint8_t> vec(const Data& d) { return std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size()); }

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class NpaPacketProtocolTest : public ::testing::Test {
protected:
    NpaTestLookup lookup;
    EnginePort port{lookup};
    RecordingSession session;
};

}  // namespace

TEST_F(NpaPacketProtocolTest, RoundTripCapturesTheMatchingReplyAndTheSessionSeesItFirst) {
    NpaPacketProtocol protocol(session, port, lookup);
    Data query = request(lookup, "queryAll");
    ASSERT_GT(query.Size(), 4u);
    const std::vector<uint8_t> expected = [&] {
        std::lock_guard<std::mutex> guard(port.lock_);
        return port.engine.defaultReply(NpaRequestKind::QueryAll, vec(query));
    }();
    protocol.setTimeout(5000);
    protocol.send(query);
    EXPECT_EQ(query.Status(), 0);
    EXPECT_EQ(query.Size(), 0u);  // the request's bytes were consumed by the write
    Data reply;
    ASSERT_TRUE(protocol.takeReply(reply));
    EXPECT_EQ(vec(reply), expected);
    ASSERT_EQ(session.count(), 1u);
    EXPECT_EQ(session.packets[0], expected);

    // An alert after the match is seen by the session but does not replace the captured reply.
    Data alert = [] {
        const uint8_t b[] = {0xA5, 0x00, 0x05, 0x00, 0xF0, 0x00, 0x01, 0x02};
        return Data(b, sizeof b);
    }();
    port.notifyData(&alert);
    Data again;
    ASSERT_TRUE(protocol.takeReply(again));
    EXPECT_EQ(vec(again), expected);
    EXPECT_EQ(session.count(), 2u);
}

TEST_F(NpaPacketProtocolTest, SplitAndFragmentedRepliesAreMatchedOnce) {
    NpaPacketProtocol protocol(session, port, lookup);
    protocol.setTimeout(5000);
    for (const NpaReplyBehaviour& behaviour : {NpaReplyBehaviour{false, 0, 0, 0, 3, 0, false, false, false},
                                               NpaReplyBehaviour{false, 0, 2, 5, 0, 0, true, false, false}}) {
        {
            std::lock_guard<std::mutex> guard(port.lock_);
            port.engine.setDefaultBehaviour(behaviour);
        }
        session.packets.clear();
        Data query = request(lookup, "dcSummary");
        const std::vector<uint8_t> sent = vec(query);
        protocol.send(query);
        EXPECT_EQ(query.Status(), 0);
        Data reply;
        ASSERT_TRUE(protocol.takeReply(reply));
        std::lock_guard<std::mutex> guard(port.lock_);
        EXPECT_EQ(vec(reply), port.engine.defaultReply(NpaRequestKind::DcSummary, sent));
    }
}

TEST_F(NpaPacketProtocolTest, AcknowledgePacketsRestartTheReplyClock) {
    NpaPacketProtocol protocol(session, port, lookup);
    {
        std::lock_guard<std::mutex> guard(port.lock_);
        // The reply comes after twice the time-out, with an acknowledge every half time-out.
        port.engine.setDefaultBehaviour(NpaReplyBehaviour{false, 600, 3, 150, 0, 0, false, false, false});
    }
    protocol.setTimeout(300);
    Data query = request(lookup, "queryAll");
    protocol.send(query);
    EXPECT_EQ(query.Status(), 0);
    Data reply;
    EXPECT_TRUE(protocol.takeReply(reply));
    EXPECT_EQ(session.count(), 4u);  // three acknowledges and the reply reached the session
}

TEST_F(NpaPacketProtocolTest, NoReplyWithinTheTimeOutGives1460) {
    NpaPacketProtocol protocol(session, port, lookup);
    {
        std::lock_guard<std::mutex> guard(port.lock_);
        port.engine.setDefaultBehaviour(NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    }
    EXPECT_EQ(protocol.timeout(), NpaPacketProtocol::kDefaultTimeout);
    protocol.setTimeout(200);
    Data query = request(lookup, "queryAll");
    const auto start = Clock::now();
    protocol.send(query);
    EXPECT_EQ(query.Status(), 1460);
    EXPECT_GE(msSince(start), 200);
    EXPECT_LT(msSince(start), 5000);
    Data reply;
    EXPECT_FALSE(protocol.takeReply(reply));
}

TEST_F(NpaPacketProtocolTest, AbortEndsAWaitingSendAndRefusesLaterOnes) {
    NpaPacketProtocol protocol(session, port, lookup);
    {
        std::lock_guard<std::mutex> guard(port.lock_);
        port.engine.setDefaultBehaviour(NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    }
    auto writes = [&] {
        std::lock_guard<std::mutex> guard(port.lock_);
        return port.writes;
    };
    Data query = request(lookup, "queryAll");
    const auto start = Clock::now();
    std::thread waiter([&] { protocol.send(query); });
    // The send is waiting once the printer has seen the request; the default time-out is 10 s.
    while (writes() == 0 && msSince(start) < 5000) std::this_thread::yield();
    protocol.abort();
    waiter.join();
    EXPECT_EQ(query.Status(), 995);
    EXPECT_LT(msSince(start), 5000);
    Data again = request(lookup, "queryAll");
    protocol.send(again);
    EXPECT_EQ(again.Status(), 995);
    EXPECT_EQ(writes(), 1) << "an aborted protocol must not write";
}

TEST_F(NpaPacketProtocolTest, RequestsWithoutReplyAndRefusedWritesReturnAtOnce) {
    NpaPacketProtocol protocol(session, port, lookup);
    {
        std::lock_guard<std::mutex> guard(port.lock_);
        port.engine.setSilent(true);
    }
    protocol.setTimeout(60000);  // any wait would show
    Data start = request(lookup, "startNpaMode");
    auto began = Clock::now();
    protocol.send(start);
    EXPECT_EQ(start.Status(), 0);
    EXPECT_LT(msSince(began), 5000);

    for (uint32_t refusal : {50u, 170u}) {
        port.refuseWith = refusal;
        Data query = request(lookup, "queryAll");
        const uint32_t size = query.Size();
        began = Clock::now();
        protocol.send(query);
        EXPECT_EQ(query.Status(), static_cast<int32_t>(refusal));
        EXPECT_EQ(query.Size(), size);  // nothing was taken
        EXPECT_LT(msSince(began), 5000);
    }
    port.refuseWith = 0;
    port.acceptNothing = true;
    Data query = request(lookup, "queryAll");
    const int writesBefore = port.writes;
    protocol.send(query);
    EXPECT_EQ(query.Status(), static_cast<int32_t>(NpaPacketProtocol::kWriteFault));
    EXPECT_EQ(port.writes, writesBefore + 1);  // no endless retry of a write that takes nothing
}

TEST_F(NpaPacketProtocolTest, AcknowledgeTestLooksAtSevenBytesOfExactlyEight) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool ack;
    };
    const Case cases[] = {
        {{0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00, 0x00}, true},
        {{0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00, 0x9C}, true},
        {{0xA5, 0x00, 0x05, 0x00, 0xFF, 0x80, 0x00, 0x00}, false},
        {{0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x01, 0x00}, false},
        {{0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00}, false},
        {{0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00, 0x00, 0x00}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NpaPacketProtocol::isAcknowledge(Data(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()))), c.ack);
    }
}

TEST_F(NpaPacketProtocolTest, DestroyingTheProtocolDetachesIt) {
    {
        NpaPacketProtocol protocol(session, port, lookup);
        EXPECT_EQ(port.observerCount(), 1u);
    }
    EXPECT_EQ(port.observerCount(), 0u);
}
