#include "tools/simulator/NpaPrinterSimulator.h"

#include "interpreters/npa/NpaCommand.h"
#include "runtime/Exception.h"
#include "tests/interpreters/npa/NpaTestBytes.h"
#include "tests/support/HandleSlots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char* const kQueryAll = "A5 00 05 50 E0 81 00 FF";
const char* const kRegisterStatusBit0 = "A5 00 06 50 03 03 00 08 00";

std::string UniqueDevicePath() {
    static std::atomic<int> counter{0};
    return "\\\\.\\pipe\\QvSimTest\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "\\USB001";
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct ReadResult {
    DWORD error = 0;
    bool timedOut = false;
    Bytes bytes;
};

// The host side as the service drives it: PIPE01 opened first for overlapped 512-byte reads,
// then PIPE00 for synchronous writes.
class Host {
public:
    DWORD open(const std::string& devicePath) {
        read_.reset(CreateFileA((devicePath + "\\PIPE01").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (!read_) return GetLastError();
        write_.reset(CreateFileA((devicePath + "\\PIPE00").c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        return write_ ? 0 : GetLastError();
    }
    void close() {
        read_.reset();
        write_.reset();
    }
    bool send(const Bytes& bytes) {
        DWORD written = 0;
        return WriteFile(write_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    }
    // Starts one 512-byte read; finish() collects it.
    DWORD begin() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        ResetEvent(event_.get());
        buffer_.assign(512, 0);
        if (ReadFile(read_.get(), buffer_.data(), 512, nullptr, &overlapped_) || GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return 0;
        }
        return GetLastError();
    }
    ReadResult finish(DWORD timeoutMs) {
        ReadResult result;
        if (!pending_) {
            result.error = ERROR_INVALID_FUNCTION;
            return result;
        }
        if (WaitForSingleObject(event_.get(), timeoutMs) != WAIT_OBJECT_0) {
            result.timedOut = true;
            CancelIoEx(read_.get(), &overlapped_);
        }
        DWORD n = 0;
        // After a cancel the read completes at once; the wait keeps the buffer alive until it has.
        if (!GetOverlappedResult(read_.get(), &overlapped_, &n, TRUE)) result.error = GetLastError();
        pending_ = false;
        if (!result.timedOut) result.bytes.assign(buffer_.begin(), buffer_.begin() + n);
        return result;
    }
    ReadResult read(DWORD timeoutMs = 5000) {
        ReadResult result;
        result.error = begin();
        return result.error != 0 ? result : finish(timeoutMs);
    }

private:
    UniqueFileHandle read_;
    UniqueFileHandle write_;
    UniqueHandle event_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped_{};
    Bytes buffer_;
    bool pending_ = false;
};

class NpaPrinterSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_.start();
        ASSERT_EQ(host_.open(path_), 0u);
        ASSERT_TRUE(sim_.waitForHost(5000));
    }
    void TearDown() override { EXPECT_TRUE(sim_.stop(5000)); }

    Bytes exchange(const char* request) {
        EXPECT_TRUE(host_.send(Hex(request)));
        const ReadResult reply = host_.read();
        EXPECT_EQ(reply.error, 0u);
        EXPECT_FALSE(reply.timedOut);
        return reply.bytes;
    }

    const std::string path_ = UniqueDevicePath();
    NpaPrinterSimulator sim_{path_};
    Host host_;
};

bool Answers(const char* request, const Bytes& reply) {
    const Bytes r = Hex(request);
    const NpaCommand command(r.data(), static_cast<uint32_t>(r.size()));
    return command.IsReplyTo(Data(reply.data(), static_cast<uint32_t>(reply.size())));
}

}  // namespace

TEST_F(NpaPrinterSimulatorTest, QueryAllGetsAReplyTheHostAccepts) {
    const Bytes reply = exchange(kQueryAll);
    EXPECT_EQ(reply, Hex("A5 00 07 40 E0 81 00 FF 00 00"));
    EXPECT_TRUE(Answers(kQueryAll, reply));
    EXPECT_TRUE(sim_.waitForRequests(NpaRequestKind::QueryAll, 1, 5000));
    EXPECT_TRUE(sim_.waitForWritesCompleted(1, 5000));
}

TEST_F(NpaPrinterSimulatorTest, ModeSwitchIsRecordedButNotAnswered) {
    ASSERT_TRUE(host_.send(Hex("A5 00 10 80 A4 5B A4 5B 10 EF A4 5B 11 EE 00 FF 13 EC 2E")));
    const Bytes reply = exchange(kQueryAll);
    EXPECT_TRUE(Answers(kQueryAll, reply));  // the first bytes the host reads are the query's reply
    EXPECT_EQ(sim_.countOf(NpaRequestKind::StartNpaMode), 1u);
    const auto requests = sim_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, NpaRequestKind::StartNpaMode);
}

TEST_F(NpaPrinterSimulatorTest, BurstIsReadIn512ByteReads) {
    Bytes burst(1300, 0x5A);
    burst[0] = 0xA5;
    burst[1] = static_cast<uint8_t>((1300 - 3) >> 8);
    burst[2] = static_cast<uint8_t>((1300 - 3) & 0xFF);
    burst[3] = 0x40;
    burst[4] = 0xF0;
    ASSERT_TRUE(sim_.sendBytes(burst));
    Bytes got;
    std::vector<size_t> sizes;
    while (got.size() < burst.size()) {
        const ReadResult r = host_.read();
        ASSERT_EQ(r.error, 0u);
        ASSERT_FALSE(r.timedOut);
        sizes.push_back(r.bytes.size());
        got.insert(got.end(), r.bytes.begin(), r.bytes.end());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{512, 512, 276}));
    EXPECT_EQ(got, burst);
}

// Each write reaches the host as a read of its own; a joined write as one read.
TEST_F(NpaPrinterSimulatorTest, SplitAcknowledgedAndJoinedRepliesArriveAsScripted) {
    const Bytes reply = Hex("A5 00 07 40 E0 81 00 FF 00 00");
    const Bytes ack = Hex("A5 00 05 40 FF 80 00 00");
    struct Case {
        NpaReplyBehaviour behaviour;
        std::vector<Bytes> reads;
    };
    NpaReplyBehaviour split;
    split.splitAt = 3;
    NpaReplyBehaviour acked;
    acked.acks = 2;
    NpaReplyBehaviour joined = acked;
    joined.join = true;
    Bytes all = ack;
    all.insert(all.end(), ack.begin(), ack.end());
    all.insert(all.end(), reply.begin(), reply.end());
    const Case cases[] = {
        {split, {Bytes(reply.begin(), reply.begin() + 3), Bytes(reply.begin() + 3, reply.end())}},
        {acked, {ack, ack, reply}},
        {joined, {all}},
    };
    for (const Case& c : cases) {
        sim_.setBehaviour(NpaRequestKind::QueryAll, c.behaviour);
        ASSERT_TRUE(host_.send(Hex(kQueryAll)));
        std::vector<Bytes> reads;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            const ReadResult r = host_.read();
            ASSERT_EQ(r.error, 0u);
            ASSERT_FALSE(r.timedOut);
            reads.push_back(r.bytes);
        }
        EXPECT_EQ(reads, c.reads);
    }
}

TEST_F(NpaPrinterSimulatorTest, LateSilentAndNeverAnsweringPrinters) {
    NpaReplyBehaviour late;
    late.delayMs = 400;
    sim_.setBehaviour(NpaRequestKind::QueryAll, late);
    const auto start = Clock::now();
    const Bytes reply = exchange(kQueryAll);
    EXPECT_GE(MsSince(start), 350);
    EXPECT_TRUE(Answers(kQueryAll, reply));

    NpaReplyBehaviour never;
    never.neverReply = true;
    sim_.setBehaviour(NpaRequestKind::QueryAll, never);
    ASSERT_TRUE(host_.send(Hex(kQueryAll)));
    EXPECT_TRUE(sim_.waitForRequests(NpaRequestKind::QueryAll, 2, 5000));
    EXPECT_TRUE(host_.read(300).timedOut);

    sim_.clearBehaviours();
    sim_.setSilent(true);
    ASSERT_TRUE(host_.send(Hex("A5 00 03 50 01 00")));
    EXPECT_TRUE(sim_.waitForRequests(NpaRequestKind::DcSummary, 1, 5000));
    EXPECT_FALSE(sim_.sendAlert());
    EXPECT_TRUE(host_.read(300).timedOut);
}

TEST_F(NpaPrinterSimulatorTest, AlertsOnDemandAndOnTheTimerOnceRegistered) {
    ASSERT_TRUE(sim_.sendAlert());
    ReadResult r = host_.read();
    ASSERT_EQ(r.error, 0u);
    NpaCommand alert(r.bytes.data(), static_cast<uint32_t>(r.bytes.size()));
    EXPECT_TRUE(alert.IsControlPacket());
    EXPECT_TRUE(alert.IsComplete());

    sim_.setAlertTimer(50, true);
    EXPECT_TRUE(host_.read(300).timedOut);  // not registered: the timer stays quiet
    EXPECT_TRUE(Answers(kRegisterStatusBit0, exchange(kRegisterStatusBit0)));
    EXPECT_TRUE(sim_.isRegistered());
    for (int i = 0; i < 3; ++i) {
        r = host_.read();
        ASSERT_EQ(r.error, 0u);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.bytes.at(4), 0xF0);
    }
    sim_.setAlertTimer(0);
}

TEST_F(NpaPrinterSimulatorTest, UnplugFailsThePendingReadAndReplugServesAgain) {
    ASSERT_TRUE(Answers(kRegisterStatusBit0, exchange(kRegisterStatusBit0)));
    EXPECT_EQ(sim_.registeredAlertMask(), 1u);
    ASSERT_EQ(host_.begin(), 0u);
    const auto start = Clock::now();
    ASSERT_TRUE(sim_.unplug());
    const ReadResult r = host_.finish(2000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.error, 0u);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(sim_.isPlugged());
    EXPECT_FALSE(host_.send(Hex(kQueryAll)));

    Host another;
    EXPECT_EQ(another.open(path_), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(sim_.isRegistered());  // unplugged, not yet powered up again

    ASSERT_TRUE(sim_.replug(true));
    EXPECT_FALSE(sim_.isRegistered());
    EXPECT_TRUE(sim_.registrations().empty());
    host_.close();
    ASSERT_EQ(host_.open(path_), 0u);
    EXPECT_TRUE(Answers(kQueryAll, exchange(kQueryAll)));
    EXPECT_EQ(sim_.hostReadConnections(), 2u);

    // A replug that keeps the printer powered keeps its registrations.
    ASSERT_TRUE(Answers(kRegisterStatusBit0, exchange(kRegisterStatusBit0)));
    ASSERT_TRUE(sim_.unplug());
    ASSERT_TRUE(sim_.replug(false));
    EXPECT_TRUE(sim_.isRegistered());
    EXPECT_EQ(sim_.registrations().at(0).packet, Hex(kRegisterStatusBit0));
}

TEST_F(NpaPrinterSimulatorTest, HostReopeningThePipesIsServed) {
    host_.close();
    ASSERT_EQ(host_.open(path_), 0u);
    EXPECT_TRUE(Answers(kQueryAll, exchange(kQueryAll)));
    // Reopened before closing the old handles: the newer connection is the one served.
    Host second;
    ASSERT_EQ(second.open(path_), 0u);
    ASSERT_TRUE(second.send(Hex(kQueryAll)));
    const ReadResult r = second.read();
    ASSERT_EQ(r.error, 0u);
    EXPECT_TRUE(Answers(kQueryAll, r.bytes));
    EXPECT_NE(host_.read(2000).error, 0u);  // the old connection was closed
}

TEST_F(NpaPrinterSimulatorTest, StopWithAnIdleHostIsBounded) {
    ASSERT_EQ(host_.begin(), 0u);
    const auto start = Clock::now();
    EXPECT_TRUE(sim_.stop(5000));
    EXPECT_LT(MsSince(start), 3000);
    const ReadResult r = host_.finish(2000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.error, 0u);
    EXPECT_FALSE(sim_.unplug(100));  // nothing left to control
}

TEST(NpaPrinterSimulator, StopsPromptlyWhenNoHostEverConnected) {
    NpaPrinterSimulator sim(UniqueDevicePath());
    sim.start();
    EXPECT_TRUE(sim.isPlugged());
    const auto start = Clock::now();
    EXPECT_TRUE(sim.stop(5000));
    EXPECT_LT(MsSince(start), 3000);
}

TEST(NpaPrinterSimulator, ABadDevicePathFailsToStart) {
    NpaPrinterSimulator sim("C:\\not-a-pipe\\USB001");
    try {
        sim.start();
        FAIL() << "started on a path outside the pipe namespace";
    } catch (const Win32Exception& e) {
        EXPECT_NE(e.code(), 0);
    }
}

TEST(NpaPrinterSimulator, ListenerSeesRequestsAndConnections) {
    const std::string path = UniqueDevicePath();
    NpaPrinterSimulator sim(path);
    std::mutex mutex;
    std::vector<NpaSimulatorEvent> events;
    sim.setListener([&](const NpaSimulatorEvent& e) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
    });
    sim.start();
    Host host;
    ASSERT_EQ(host.open(path), 0u);
    ASSERT_TRUE(host.send(Hex(kQueryAll)));
    ASSERT_FALSE(host.read().timedOut);
    ASSERT_TRUE(sim.waitForWritesCompleted(1, 5000));
    ASSERT_TRUE(sim.stop(5000));
    std::lock_guard<std::mutex> lock(mutex);
    int requests = 0, connected = 0, wrote = 0;
    for (const auto& e : events) {
        if (e.kind == NpaSimulatorEvent::Kind::Request) {
            ++requests;
            EXPECT_EQ(e.request.kind, NpaRequestKind::QueryAll);
            EXPECT_EQ(e.request.outcome, "reply 10 bytes");
        }
        connected += e.kind == NpaSimulatorEvent::Kind::HostConnected;
        wrote += e.kind == NpaSimulatorEvent::Kind::Wrote;
    }
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(connected, 2);
    EXPECT_EQ(wrote, 1);
}

TEST(NpaPrinterSimulator, PlugCyclesAndReconnectsLeaveNoHandleBehind) {
    const std::string path = UniqueDevicePath();
    NpaPrinterSimulator sim(path);
    sim.start();
    auto cycle = [&] {
        Host host;
        ASSERT_EQ(host.open(path), 0u);
        ASSERT_TRUE(host.send(Hex(kQueryAll)));
        ASSERT_FALSE(host.read().timedOut);
        host.close();
        ASSERT_EQ(host.open(path), 0u);  // a reopen without unplugging
        ASSERT_TRUE(sim.waitForHost(5000));
        ASSERT_TRUE(sim.unplug());
        ASSERT_TRUE(sim.replug());
    };
    cycle();
    const uintptr_t before = highestFreshHandle();
    constexpr int kCycles = 5;
    for (int i = 0; i < kCycles; ++i) cycle();
    // Slack of two handles for what the system creates once per process on a path the first
    // cycle did not take; one handle kept per cycle would add five.
    const uintptr_t limit = before + 2 * 4;
    const uintptr_t after = handleValueSettledTo(limit, [] { return highestFreshHandle(); });
    EXPECT_LE(after, limit) << "before " << before << " after " << after;
    EXPECT_TRUE(sim.stop(5000));
}
