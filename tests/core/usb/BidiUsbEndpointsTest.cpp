// The endpoints against the simulated printer's pipes. Every read is bounded by a watchdog that
// aborts it through close(), so a read that never returns fails the test instead of hanging it.
#include "config/RegistryKey.h"
#include "core/usb/BidiUsbEndpoints.h"
#include "logging/LogFacade.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

constexpr DWORD kWaitMs = 5000;

std::string uniqueName(const std::string& stem) {
    static std::atomic<unsigned> serial{0};
    return stem + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount()) + "x" +
           std::to_string(serial++);
}

std::string transportFor(const std::string& devicePath) {
    return "<PORTNAME>USB001</PORTNAME><DEVICEPATH>" + devicePath + "</DEVICEPATH>";
}

// Calls close() on the endpoints unless the guarded read ended within the bound.
class ReadWatchdog {
public:
    ReadWatchdog(BidiUsbEndpoints& endpoints, DWORD milliseconds)
        : thread_([this, &endpoints, milliseconds] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return finished_; })) {
                  fired_ = true;
                  endpoints.close();
              }
          }) {}
    ~ReadWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    bool fired() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool fired_ = false;
    std::thread thread_;
};

uint32_t boundedRead(BidiUsbEndpoints& endpoints, Data& into, bool* timedOut = nullptr) {
    ReadWatchdog watchdog(endpoints, kWaitMs);
    const uint32_t status = endpoints.readOverlapped(into);
    if (timedOut != nullptr) *timedOut = watchdog.fired();
    EXPECT_FALSE(watchdog.fired()) << "the read did not return within the bound";
    return status;
}

class BidiUsbEndpointsTest : public ::testing::Test {
protected:
    void SetUp() override {
        devicePath_ = "\\\\.\\pipe\\" + uniqueName("QtSim") + "\\USB001";
        simulator_.reset(new NpaPrinterSimulator(devicePath_));
        simulator_->setListener([this](const NpaSimulatorEvent& event) {
            if (event.kind != NpaSimulatorEvent::Kind::HostConnected || event.pipe != "PIPE01") return;
            std::lock_guard<std::mutex> lock(mutex_);
            ++readConnections_;
            changed_.notify_all();
        });
        simulator_->start();
    }
    void TearDown() override { EXPECT_TRUE(simulator_->stop()); }

    // Waits (bounded) until the printer has accepted count connections on its read pipe.
    bool waitForReadConnections(uint64_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return readConnections_ >= count; });
    }

    // The error a pipe reports once its server has closed it: broken, or no longer connected.
    static bool isClosedPipeError(uint32_t code) { return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED; }

    std::string devicePath_;
    std::unique_ptr<NpaPrinterSimulator> simulator_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t readConnections_ = 0;
};

TEST_F(BidiUsbEndpointsTest, ABurstIsReadIn512ByteParts) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));

    std::vector<uint8_t> burst(1300);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(simulator_->sendBytes(burst));

    Data all;
    for (const uint32_t expected : {512u, 512u, 276u}) {
        Data part;
        EXPECT_EQ(boundedRead(endpoints, part), 0u);
        EXPECT_EQ(part.Size(), expected);
        all.Append(part);
    }
    ASSERT_EQ(all.Size(), burst.size());
    EXPECT_TRUE(std::equal(burst.begin(), burst.end(), all.Bytes()));
    EXPECT_TRUE(simulator_->waitForWritesCompleted(1, kWaitMs));
}

TEST_F(BidiUsbEndpointsTest, CloseAbortsAPendingReadAtOnce) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));

    Data into;
    into.Append(reinterpret_cast<const uint8_t*>("kept"), 4);
    std::future<uint32_t> read = std::async(std::launch::async, [&] { return endpoints.readOverlapped(into); });
    // A close that comes before the read has begun is undone by the read's own reset; close
    // until the pending read notices, each attempt waiting briefly.
    const auto start = std::chrono::steady_clock::now();
    bool returned = false;
    for (int attempt = 0; attempt < 100 && !returned; ++attempt) {
        EXPECT_EQ(endpoints.close(), 0u);
        returned = read.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
    }
    if (!returned) {
        // Leave no thread blocked behind: the pipe's own failure ends the read.
        simulator_->unplug();
    }
    ASSERT_TRUE(returned) << "close did not abort the read";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(read.get(), 0u);
    EXPECT_EQ(into.Status(), 0);
    ASSERT_EQ(into.Size(), 4u);

    // The endpoints read again afterwards, and the aborted read lost nothing.
    ASSERT_TRUE(simulator_->sendBytes({1, 2, 3}));
    Data next;
    EXPECT_EQ(boundedRead(endpoints, next), 0u);
    EXPECT_EQ(next.Size(), 3u);
}

TEST_F(BidiUsbEndpointsTest, WritesReachThePrinter) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);

    Data empty;
    endpoints.write(empty);
    EXPECT_EQ(empty.Status(), 0);
    EXPECT_EQ(empty.Count(), 0);

    const uint8_t startNpaMode[] = {0xA5, 0x00, 0x03, 0x00, 0xA4, 0x5B};
    Data request(startNpaMode, sizeof startNpaMode);
    request.SetStatus(77);
    endpoints.write(request);
    EXPECT_EQ(request.Status(), 0);
    EXPECT_EQ(request.Count(), 6);
    EXPECT_EQ(request.Size(), 6u) << "the caller consumes what was written";
    ASSERT_TRUE(simulator_->waitUntil([](const NpaPrinterEngine& e) { return e.totalRequests() >= 1; }, kWaitMs));
    const std::vector<NpaReceivedRequest> seen = simulator_->requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].bytes, std::vector<uint8_t>(startNpaMode, startNpaMode + sizeof startNpaMode));
}

TEST_F(BidiUsbEndpointsTest, AReadAfterTheSimulatorClosedItsPipesFailsAtOnce) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    ASSERT_TRUE(simulator_->unplug());

    for (int i = 0; i < 2; ++i) {
        Data into;
        bool timedOut = false;
        const uint32_t status = boundedRead(endpoints, into, &timedOut);
        EXPECT_FALSE(timedOut);
        EXPECT_TRUE(isClosedPipeError(status)) << status;
        EXPECT_EQ(into.Status(), static_cast<int32_t>(status));
        EXPECT_EQ(into.Size(), 0u);
    }
    Data request(4, 0xA5);
    endpoints.write(request);
    EXPECT_NE(request.Status(), 0);
}

TEST_F(BidiUsbEndpointsTest, APendingReadFailsWhenThePrinterGoes) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    Data into;
    std::future<uint32_t> read = std::async(std::launch::async, [&] { return endpoints.readOverlapped(into); });
    ASSERT_TRUE(simulator_->unplug());
    if (read.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) endpoints.close();
    ASSERT_EQ(read.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    const uint32_t status = read.get();
    EXPECT_TRUE(isClosedPipeError(status)) << status;
    EXPECT_EQ(into.Size(), 0u);
}

TEST_F(BidiUsbEndpointsTest, OpenAgainReplacesTheEarlierConnection) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    for (uint64_t round = 2; round <= 4; ++round) {
        ASSERT_EQ(endpoints.open(), 0u);
        ASSERT_TRUE(waitForReadConnections(round)) << round;
    }
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    // The printer serves the newest connection: data still arrives.
    ASSERT_TRUE(simulator_->sendBytes({9, 8, 7}));
    Data into;
    EXPECT_EQ(boundedRead(endpoints, into), 0u);
    EXPECT_EQ(into.Size(), 3u);
}

TEST_F(BidiUsbEndpointsTest, ReplugAndOpenAgain) {
    BidiUsbEndpoints endpoints(transportFor(devicePath_));
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->unplug());
    EXPECT_EQ(endpoints.open(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(simulator_->replug());
    ASSERT_EQ(endpoints.open(), 0u);
    ASSERT_TRUE(simulator_->waitForHost(kWaitMs));
    ASSERT_TRUE(simulator_->sendBytes({5}));
    Data into;
    EXPECT_EQ(boundedRead(endpoints, into), 0u);
    EXPECT_EQ(into.Size(), 1u);
}

// Endpoints that never opened, or whose device path is not a printer's.
class BidiUsbEndpointsWithoutPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        shortName_ = uniqueName("TolvexUsbLog");
        LogFacade::getInstance().setPrefix(uniqueName("Qu"));
        LogFacade::getInstance().setShortName(shortName_);
        RegistryKey64 key("Software\\" + shortName_ + "\\BcxComponents\\", true, HKEY_LOCAL_MACHINE,
                          kRegistryWriteAccess);
        key.setValue("startLog", 1u);
    }
    void TearDown() override {
        DeleteFileA(LogFacade::getInstance().logPath().c_str());
        recurseDeleteKey("Software\\" + shortName_, HKEY_LOCAL_MACHINE);
    }
    static std::string logText() {
        std::ifstream file(LogFacade::getInstance().logPath(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string shortName_;
};

TEST_F(BidiUsbEndpointsWithoutPrinter, OpenReportsFileNotFoundAfterItsLogLine) {
    BidiUsbEndpoints endpoints(transportFor("\\\\.\\pipe\\" + uniqueName("NoSuchPrinter")));
    EXPECT_EQ(endpoints.open(), 2u);
    EXPECT_EQ(endpoints.readHandle(), INVALID_HANDLE_VALUE);
    const std::string log = logText();
    const std::string::size_type enter = log.find("BidiComponent");
    ASSERT_NE(enter, std::string::npos) << log;
    const std::string::size_type plus = log.find("+BidiUsbEndpoints::open()\r\n");
    const std::string::size_type minus = log.find("-BidiUsbEndpoints::open():rc= 2\r\n");
    ASSERT_NE(plus, std::string::npos) << log;
    ASSERT_NE(minus, std::string::npos) << log;
    EXPECT_LT(plus, minus);
}

TEST_F(BidiUsbEndpointsWithoutPrinter, PathsOutsideTheDeviceNamespaceAreNotOpened) {
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder = std::string(temp) + uniqueName("not-a-printer");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    for (const char* pipe : {"\\PIPE00", "\\PIPE01"}) std::ofstream(folder + pipe) << "x";

    for (const std::string& transport : {transportFor(folder), std::string("<PORTNAME>USB001</PORTNAME>"),
                                         transportFor("")}) {
        BidiUsbEndpoints endpoints(transport);
        EXPECT_EQ(endpoints.open(), 2u) << transport;
        EXPECT_EQ(endpoints.readHandle(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(endpoints.writeHandle(), INVALID_HANDLE_VALUE);
    }
    for (const char* pipe : {"\\PIPE00", "\\PIPE01"}) DeleteFileA((folder + pipe).c_str());
    RemoveDirectoryA(folder.c_str());
}

// Pipes of the test's own: the server end of each earlier connection must see its client gone.
// (Handle values cannot tell: a background thread of the process may take over a freed slot.)
TEST(BidiUsbEndpointsOwnPipes, OpenAgainClosesTheEarlierHandles) {
    const std::string devicePath = "\\\\.\\pipe\\" + uniqueName("QtOwn") + "\\USB001";
    BidiUsbEndpoints endpoints(transportFor(devicePath));
    auto serve = [&](const char* pipe) {
        return UniqueFileHandle(CreateNamedPipeA((devicePath + pipe).c_str(), PIPE_ACCESS_DUPLEX,
                                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
    };
    auto clientGone = [](HANDLE server) {
        DWORD available = 0;
        return !PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr) &&
               GetLastError() == ERROR_BROKEN_PIPE;
    };
    UniqueFileHandle previous[2];
    for (int round = 0; round < 4; ++round) {
        UniqueFileHandle current[2] = {serve("\\PIPE00"), serve("\\PIPE01")};
        ASSERT_TRUE(current[0] && current[1]);
        ASSERT_EQ(endpoints.open(), 0u) << round;
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(clientGone(current[i].get())) << "open " << round << " pipe " << i;
            if (previous[i]) {
                EXPECT_TRUE(clientGone(previous[i].get())) << "open " << round << " left pipe " << i << " open";
            }
        }
        previous[0] = std::move(current[0]);
        previous[1] = std::move(current[1]);
    }
}

// A zero-length message on a message-mode pipe of the test's own completes a read with no bytes.
TEST_F(BidiUsbEndpointsWithoutPrinter, AnEmptyReadLeavesTheBufferAlone) {
    const std::string devicePath = "\\\\.\\pipe\\" + uniqueName("QtZero") + "\\USB001";
    UniqueFileHandle servers[2];
    for (int i = 0; i < 2; ++i) {
        servers[i].reset(CreateNamedPipeA((devicePath + (i == 0 ? "\\PIPE00" : "\\PIPE01")).c_str(),
                                          PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                          4096, 4096, 0, nullptr));
        ASSERT_TRUE(servers[i]);
    }
    BidiUsbEndpoints endpoints(transportFor(devicePath));
    ASSERT_EQ(endpoints.open(), 0u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(servers[1].get(), "", 0, &written, nullptr));
    Data into;
    into.Append(reinterpret_cast<const uint8_t*>("ab"), 2);
    into.SetStatus(0);
    EXPECT_EQ(boundedRead(endpoints, into), 0u);
    EXPECT_EQ(into.Size(), 2u);
    EXPECT_NE(logText().find("GetOverlappedResult reads 0 bytes: rc="), std::string::npos);
}

TEST_F(BidiUsbEndpointsWithoutPrinter, TransfersWithoutPipesFailAtOnce) {
    BidiUsbEndpoints endpoints(transportFor("\\\\.\\pipe\\" + uniqueName("NoSuchPrinter")));
    Data request(3, 1);
    endpoints.write(request);
    EXPECT_EQ(request.Status(), 1);

    Data into;
    EXPECT_EQ(boundedRead(endpoints, into), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(into.Size(), 0u);
    EXPECT_NE(logText().find("ReadFile failed with error: rc=6"), std::string::npos);
}

}  // namespace
