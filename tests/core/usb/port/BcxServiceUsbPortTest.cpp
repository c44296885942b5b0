// The port against the simulated printer under Wine: the read thread and its counting, framing
// of real reads, replies and time-outs, refusals (model, spooler, detached), unplugging.
// Every wait is bounded.
#include "core/usb/port/BcxServiceUsbPort.h"
#include "core/usb/port/NpaPacketProtocol.h"
#include "tests/core/usb/port/NpaCommandBytes.h"
#include "tests/core/usb/port/NpaTestLookup.h"
#include "tests/core/usb/port/StuckObserver.h"
#include "tests/support/HandleSlots.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr DWORD kWaitMs = 5000;

std::string uniqueName(const std::string& stem) {
    static std::atomic<unsigned> serial{0};
    return stem + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount()) + "x" +
           std::to_string(serial++);
}

struct FakeSpooler : SpoolerProbe {
    bool isPrinting(const std::string& portName) override {
        asked = portName;
        return busy.load();
    }
    void lookAgain() override { ++arrivals; }
    std::atomic<bool> busy{false};
    std::atomic<int> arrivals{0};
    std::string asked;
};

struct RecordingSession : PacketSink {
    void onPacket(const Data& packet) override {
        {
            std::lock_guard<std::mutex> guard(lock);
            packets.emplace_back(packet.Bytes(), packet.Bytes() + packet.Size());
        }
        changed.notify_all();
    }
    bool waitFor(size_t count, DWORD ms) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return packets.size() >= count; });
    }
    std::vector<Bytes> taken() {
        std::lock_guard<std::mutex> guard(lock);
        return packets;
    }
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Bytes> packets;
};

Bytes vec(const Data& d) { return Bytes(d.Bytes(), d.Bytes() + d.Size()); }

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class BcxServiceUsbPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        devicePath_ = "\\\\.\\pipe\\" + uniqueName("QpSim") + "\\USB001";
        simulator_.reset(new NpaPrinterSimulator(devicePath_));
        simulator_->setListener([this](const NpaSimulatorEvent& event) {
            if (event.kind != NpaSimulatorEvent::Kind::HostDisconnected) return;
            {
                std::lock_guard<std::mutex> guard(hostLock_);
                ++disconnects_;
            }
            hostChanged_.notify_all();
        });
        simulator_->start();
    }
    void TearDown() override {
        protocol_.reset();
        port_.reset();
        simulator_->stop();
    }

    void makePort(const std::string& model = "Q100 Series") {
        const std::string transport = "<PORTNAME>USB001</PORTNAME><DEVICEPATH>" + devicePath_ +
                                      "</DEVICEPATH><1284DEVICEIDSTRING>MFG:Quorvel;MODEL:" + model +
                                      ";CMD:NPA;</1284DEVICEIDSTRING>";
        port_.reset(new BcxServiceUsbPort(transport, lookup_, spooler_));
        port_->setSettleDelay(0);
        protocol_.reset(new NpaPacketProtocol(session_, *port_, lookup_));
    }

    Data request(const char* name) { return npaCommandData(lookup_, name); }
    // The status of a queryAll sent through the packet protocol, waiting up to kWaitMs.
    int32_t queryAllStatus() {
        Data query = request("queryAll");
        protocol_->setTimeout(kWaitMs);
        protocol_->send(query);
        return query.Status();
    }

    // The printer's default answer to a request, as a fresh printer gives it.
    static Bytes expectedReply(NpaRequestKind kind, const Data& sent) {
        NpaPrinterEngine engine;
        return engine.defaultReply(kind, vec(sent));
    }

    void connectAndWaitForPrinter() {
        ASSERT_EQ(port_->connect(), 0u);
        ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
        ASSERT_TRUE(simulator_->waitForRequests(NpaRequestKind::StartNpaMode, 1, kWaitMs));
    }

    // True once the printer has seen the host close both pipes count times in all.
    bool waitForDisconnects(int count) {
        std::unique_lock<std::mutex> guard(hostLock_);
        return hostChanged_.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return disconnects_ >= 2 * count; });
    }

    std::mutex hostLock_;
    std::condition_variable hostChanged_;
    int disconnects_ = 0;
    std::string devicePath_;
    std::unique_ptr<NpaPrinterSimulator> simulator_;
    NpaTestLookup lookup_;
    FakeSpooler spooler_;
    RecordingSession session_;
    std::unique_ptr<BcxServiceUsbPort> port_;
    std::unique_ptr<NpaPacketProtocol> protocol_;
};

}  // namespace

TEST_F(BcxServiceUsbPortTest, ExchangeRoundTripCopiesThePrintersReply) {
    makePort();
    connectAndWaitForPrinter();
    EXPECT_TRUE(port_->isReading());
    Data query = request("queryAll");
    const Data sent = query;
    protocol_->setTimeout(kWaitMs);
    protocol_->send(query);
    ASSERT_EQ(query.Status(), 0);
    Data reply;
    ASSERT_TRUE(protocol_->takeReply(reply));
    EXPECT_EQ(vec(reply), expectedReply(NpaRequestKind::QueryAll, sent));
    EXPECT_EQ(spooler_.asked, "USB001");
    EXPECT_EQ(port_->disconnect(), 0u);
    EXPECT_FALSE(port_->isReading());
}

TEST_F(BcxServiceUsbPortTest, AcknowledgesRestartTheWaitAndSilenceEndsIn1460) {
    makePort();
    connectAndWaitForPrinter();
    simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{false, 900, 3, 220, 0, 0, false, false, false});
    protocol_->setTimeout(450);
    Data query = request("queryAll");
    protocol_->send(query);
    EXPECT_EQ(query.Status(), 0);
    const std::vector<Bytes> seen = session_.taken();
    ASSERT_EQ(seen.size(), 4u);  // three acknowledges, then the reply, each once
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(NpaPacketProtocol::isAcknowledge(Data(seen[i].data(), 8)));

    simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    protocol_->setTimeout(300);
    Data unanswered = request("queryAll");
    const auto start = Clock::now();
    protocol_->send(unanswered);
    EXPECT_EQ(unanswered.Status(), 1460);
    EXPECT_GE(msSince(start), 300);
    port_->disconnect();
}

TEST_F(BcxServiceUsbPortTest, SplitAndJoinedRepliesAreDeliveredOnceInOrder) {
    makePort();
    connectAndWaitForPrinter();
    protocol_->setTimeout(kWaitMs);
    // Cut one byte after the start and three bytes into the header: both must come out whole.
    for (uint32_t cut : {1u, 3u, 9u}) {
        SCOPED_TRACE(cut);
        simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{false, 0, 0, 0, cut, 0, false, false, false});
        const size_t before = session_.taken().size();
        Data query = request("queryAll");
        const Data sent = query;
        protocol_->send(query);
        ASSERT_EQ(query.Status(), 0);
        const std::vector<Bytes> seen = session_.taken();
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back(), expectedReply(NpaRequestKind::QueryAll, sent));
    }
    simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{false, 0, 2, 0, 0, 0, true, false, true});
    const size_t before = session_.taken().size();
    Data query = request("queryAll");
    const Data sent = query;
    protocol_->send(query);
    ASSERT_EQ(query.Status(), 0);
    const std::vector<Bytes> seen = session_.taken();
    ASSERT_EQ(seen.size(), before + 4);  // in one read: two acknowledges, alert, reply
    EXPECT_TRUE(NpaPacketProtocol::isAcknowledge(Data(seen[before].data(), 8)));
    EXPECT_TRUE(NpaPacketProtocol::isAcknowledge(Data(seen[before + 1].data(), 8)));
    EXPECT_EQ(seen[before + 2][4], 0xF0);
    EXPECT_EQ(seen[before + 3], expectedReply(NpaRequestKind::QueryAll, sent));
    Data reply;
    ASSERT_TRUE(protocol_->takeReply(reply));
    EXPECT_EQ(vec(reply), seen[before + 3]);
    port_->disconnect();
}

TEST_F(BcxServiceUsbPortTest, ShortPacketIsKeptFromObserversAndUnclaimedBytesComeRaw) {
    makePort();
    connectAndWaitForPrinter();
    ASSERT_TRUE(simulator_->sendBytes({0xA5, 0x00, 0x02, 0x00, 0x00}));
    ASSERT_TRUE(simulator_->sendBytes({0xA5, 0x00, 0x02, 0x40, 0x00}));
    ASSERT_TRUE(simulator_->sendBytes({0xA5, 0x00, 0x02, 0x00, 0x07}));
    ASSERT_TRUE(simulator_->sendBytes({0x1B, 0x45, 0x40, 0x50, 0x4A}));
    ASSERT_TRUE(session_.waitFor(3, kWaitMs));
    EXPECT_EQ(session_.taken(), (std::vector<Bytes>{{0xA5, 0x00, 0x02, 0x40, 0x00},
                                                    {0xA5, 0x00, 0x02, 0x00, 0x07},
                                                    {0x1B, 0x45, 0x40, 0x50, 0x4A}}));
    EXPECT_EQ(port_->shortPackets().total(), 1u);
    EXPECT_TRUE(port_->shortPacketEvent().isSignalled());
    port_->disconnect();
}

TEST_F(BcxServiceUsbPortTest, RefusesWithTheSpoolerBusyAndSendsNoReplyRequestAtOnce) {
    makePort();
    connectAndWaitForPrinter();
    spooler_.busy = true;
    Data query = request("queryAll");
    EXPECT_EQ(port_->exchangeBidi(query), 170u);
    EXPECT_EQ(query.Status(), 170);
    spooler_.busy = false;

    simulator_->setSilent(true);
    protocol_->setTimeout(60000);  // a wait would show
    Data start = request("startNpaMode");
    const auto began = Clock::now();
    protocol_->send(start);
    EXPECT_EQ(start.Status(), 0);
    EXPECT_LT(msSince(began), 3000);
    EXPECT_TRUE(simulator_->waitForRequests(NpaRequestKind::StartNpaMode, 2, kWaitMs));
    EXPECT_EQ(simulator_->countOf(NpaRequestKind::QueryAll), 0u);  // the busy write never went out
    port_->disconnect();
}

TEST_F(BcxServiceUsbPortTest, ModelWithoutNpaIsRefusedWith50AndGetsNoReadThread) {
    makePort("K419 Series");
    EXPECT_EQ(port_->connect(), 0u);
    EXPECT_FALSE(port_->npaWrapping());
    EXPECT_FALSE(port_->isReading());
    EXPECT_EQ(port_->openCount(), 0);
    Data query = request("queryAll");
    EXPECT_EQ(port_->exchangeBidi(query), 50u);
    EXPECT_EQ(query.Status(), 50);
    EXPECT_EQ(port_->disconnect(), 0u);
    EXPECT_EQ(simulator_->hostReadConnections(), 0u);
}

TEST_F(BcxServiceUsbPortTest, TwoConnectsAndOneDisconnectKeepTheThreadTheSecondStopsIt) {
    makePort();
    connectAndWaitForPrinter();
    ASSERT_EQ(port_->connect(), 0u);
    EXPECT_TRUE(simulator_->waitForRequests(NpaRequestKind::StartNpaMode, 2, kWaitMs));  // every connect
    EXPECT_EQ(port_->openCount(), 2);
    port_->disconnect();
    EXPECT_TRUE(port_->isReading());
    port_->disconnect();
    EXPECT_FALSE(port_->isReading());
    EXPECT_EQ(port_->openCount(), 0);
    port_->disconnect();  // never below zero
    EXPECT_EQ(port_->openCount(), 0);
}

TEST_F(BcxServiceUsbPortTest, StoppingWhileAReadWaitsIsPromptEveryTime) {
    makePort();
    simulator_->setSilent(true);
    // Each stop lands somewhere in the loop: in the pending read, before it, or in a pause.
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(port_->connect(), 0u) << "connect " << i;
        const auto start = Clock::now();
        port_->disconnect();
        EXPECT_FALSE(port_->isReading());
        EXPECT_LT(msSince(start), 1500) << "stop " << i;
        // The pipes are released on the last disconnect; the printer takes them back.
        ASSERT_TRUE(waitForDisconnects(i + 1)) << "stop " << i;
    }
}

TEST_F(BcxServiceUsbPortTest, UnpluggedWhileWaitingEndsIn1460ThenRefusalsUntilAttach) {
    makePort();
    connectAndWaitForPrinter();
    simulator_->setBehaviour(NpaRequestKind::QueryAll, NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    protocol_->setTimeout(1500);
    auto waiting = std::async(std::launch::async, [this] {
        Data query = request("queryAll");
        protocol_->send(query);
        return query.Status();
    });
    ASSERT_TRUE(simulator_->waitForRequests(NpaRequestKind::QueryAll, 1, kWaitMs));
    ASSERT_TRUE(simulator_->unplug());
    port_->onDeviceDetach();  // what the notifier reports on removal
    EXPECT_FALSE(port_->isReading());
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 1460);

    Data refused = request("queryAll");
    protocol_->send(refused);
    EXPECT_EQ(refused.Status(), 50);

    ASSERT_TRUE(simulator_->replug());
    simulator_->clearBehaviours();
    port_->onDeviceAttach();
    EXPECT_TRUE(port_->isReading());
    EXPECT_EQ(spooler_.arrivals.load(), 1);  // a queue made for the arrival is looked for at once
    // Reading has restarted: writes need not wait for a later first connect.
    EXPECT_TRUE(port_->readyEvent().isSignalled());
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    EXPECT_EQ(queryAllStatus(), 0);
    port_->disconnect();
    EXPECT_FALSE(port_->isReading());
}

// A read thread that does not end when asked is never terminated: the stop gives up after its
// bound, the port writes nothing and starts no second loop meanwhile, and the thread ends by
// itself once it can; then the port reads again.
TEST_F(BcxServiceUsbPortTest, AReadThreadThatDoesNotEndIsLeftToEndOnItsOwn) {
    makePort();
    StuckObserver stuck;
    port_->attach(&stuck);
    port_->setStopWait(300);
    connectAndWaitForPrinter();
    ASSERT_TRUE(simulator_->sendAlert());
    ASSERT_TRUE(stuck.entered.wait(kWaitMs));
    const auto start = Clock::now();
    port_->disconnect();
    EXPECT_GE(msSince(start), 300);
    EXPECT_LT(msSince(start), 3000);
    EXPECT_TRUE(port_->readerRunning());

    EXPECT_EQ(port_->connect(), 1u);  // no pipes to write the NPA mode switch to
    const auto again = Clock::now();
    port_->disconnect();
    EXPECT_LT(msSince(again), 250) << "a thread already given up on is not waited for again";
    EXPECT_EQ(simulator_->hostReadConnections(), 1u);
    EXPECT_EQ(simulator_->countOf(NpaRequestKind::StartNpaMode), 1u);
    EXPECT_FALSE(stuck.wentOn.load());

    stuck.release.set();
    ASSERT_TRUE(port_->waitReaderEnded(kWaitMs));
    EXPECT_TRUE(stuck.wentOn.load());
    EXPECT_FALSE(port_->readerRunning());
    connectAndWaitForPrinter();
    EXPECT_TRUE(port_->isReading());
    EXPECT_EQ(queryAllStatus(), 0);
    port_->disconnect();
    port_->detach(&stuck);
}

// A user who stays connected through a suspend whose read loop would not end, and a resume
// that could not start a second one, gets reading back at the next connect once the old loop
// has ended; without that user's connects a suspended port stays quiet.
TEST_F(BcxServiceUsbPortTest, ReadingLostToALoopThatWouldNotEndComesBackAtTheNextConnect) {
    makePort();
    StuckObserver stuck;
    port_->attach(&stuck);
    port_->setStopWait(300);
    connectAndWaitForPrinter();  // the user who stays
    ASSERT_TRUE(simulator_->sendAlert());
    ASSERT_TRUE(stuck.entered.wait(kWaitMs));
    port_->onWindowsSuspend();
    port_->onWindowsResume();
    EXPECT_TRUE(port_->readerRunning());
    stuck.release.set();
    const auto ended = Clock::now();
    while (port_->readerRunning() && msSince(ended) < kWaitMs) Sleep(10);
    ASSERT_FALSE(port_->readerRunning());

    EXPECT_EQ(port_->connect(), 0u);
    EXPECT_TRUE(port_->isReading());
    EXPECT_EQ(queryAllStatus(), 0);
    port_->disconnect();

    // Suspended with its user still connected, a connect does not start reading.
    port_->onWindowsSuspend();
    EXPECT_NE(port_->connect(), 0u);  // nothing to write the NPA mode switch to
    EXPECT_FALSE(port_->isReading());
    port_->disconnect();
    port_->disconnect();
    port_->detach(&stuck);
}

TEST_F(BcxServiceUsbPortTest, SuspendStopsAndResumeRestartsForOutstandingConnects) {
    makePort();
    connectAndWaitForPrinter();
    port_->onWindowsSuspend();
    EXPECT_FALSE(port_->isReading());
    EXPECT_FALSE(port_->readyEvent().isSignalled());
    EXPECT_EQ(port_->openCount(), 1);
    port_->onWindowsResume();
    EXPECT_TRUE(port_->isReading());
    EXPECT_TRUE(port_->readyEvent().isSignalled());
    port_->onWindowsUndock();
    EXPECT_FALSE(port_->isReading());
    EXPECT_EQ(port_->openCount(), 0);
}

TEST_F(BcxServiceUsbPortTest, ConnectCyclesLeaveNoHandleBehind) {
    makePort();
    connectAndWaitForPrinter();  // first use: whatever the process creates once is made now
    port_->disconnect();
    ASSERT_TRUE(waitForDisconnects(1));
    const uintptr_t before = freshHandleValue();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(port_->connect(), 0u);
        EXPECT_EQ(queryAllStatus(), 0);
        port_->disconnect();
        ASSERT_TRUE(waitForDisconnects(i + 2));
    }
    const uintptr_t after = handleValueSettledTo(before, freshHandleValue);
    EXPECT_EQ(after, before);
}
