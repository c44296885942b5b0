// Alerts off the read thread: the bounded work queue, the bounded callback registry, and the
// session's per-client delivery and re-registration over the simulated printer's engine.
#include "tests/core/sessions/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHandle = 0x2001;
constexpr int kWaitMs = 5000;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Holds the worker inside a task until opened (or for at most 10 s).
struct Gate {
    void pass() {
        std::unique_lock<std::mutex> guard(lock);
        ++entered;
        changed.notify_all();
        changed.wait_for(guard, std::chrono::seconds(10), [this] { return open; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
        changed.notify_all();
    }
    bool waitEntered(int n) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return entered >= n; });
    }
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
};

struct Ran {
    void add(int n) {
        std::lock_guard<std::mutex> guard(lock);
        order.push_back(n);
        changed.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return order.size() >= n; });
    }
    std::vector<int> taken() {
        std::lock_guard<std::mutex> guard(lock);
        return order;
    }
    std::mutex lock;
    std::condition_variable changed;
    std::vector<int> order;
};

}  // namespace

TEST(BoundedWorkQueueTest, RunsTasksInOrder) {
    BoundedWorkQueue queue(200);
    Ran ran;
    for (int i = 0; i < 200; ++i) queue.push([&ran, i] { ran.add(i); });
    ASSERT_TRUE(ran.waitFor(200));
    const std::vector<int> order = ran.taken();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(BoundedWorkQueueTest, AFullQueueDropsTheOldestAndPushNeverWaitsForAStuckTask) {
    BoundedWorkQueue queue(4);
    Gate gate;
    Ran ran;
    queue.push([&] { gate.pass(); });
    ASSERT_TRUE(gate.waitEntered(1));
    const auto start = Clock::now();
    std::vector<bool> kept;
    for (int i = 0; i < 10; ++i) kept.push_back(queue.push([&ran, i] { ran.add(i); }));
    EXPECT_LT(msSince(start), 500);  // the worker is stuck; pushing does not wait for it
    EXPECT_EQ(kept, (std::vector<bool>{true, true, true, true, false, false, false, false, false, false}));
    EXPECT_EQ(queue.dropped(), 6u);
    EXPECT_EQ(queue.waiting(), 4u);
    gate.release();
    ASSERT_TRUE(ran.waitFor(4));
    EXPECT_EQ(ran.taken(), (std::vector<int>{6, 7, 8, 9}));
}

TEST(BoundedWorkQueueTest, StopWaitsForTheTaskUnderWayOnlyAndDiscardsTheRest) {
    std::atomic<int> after{0};
    Gate gate;
    auto queue = std::make_shared<BoundedWorkQueue>(8);
    queue->push([&] { gate.pass(); });
    ASSERT_TRUE(gate.waitEntered(1));
    for (int i = 0; i < 5; ++i) queue->push([&] { ++after; });
    queue->push([] { throw std::runtime_error("a task that fails"); });
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the task's own duration
        gate.release();
    });
    const auto start = Clock::now();
    queue->stop();
    const long long took = msSince(start);
    opener.join();
    EXPECT_GE(took, 150);  // it did wait for the task under way
    EXPECT_LT(took, 2000);
    EXPECT_EQ(after.load(), 0);  // what waited was discarded
    EXPECT_FALSE(queue->push([&] { ++after; }));
    EXPECT_EQ(queue->dropped(), 1u);
    queue.reset();
    EXPECT_EQ(after.load(), 0);
}

TEST(BoundedWorkQueueTest, AThrowingTaskDoesNotEndTheWorker) {
    BoundedWorkQueue queue(8);
    Ran ran;
    queue.push([] { throw std::runtime_error("boom"); });
    queue.push([&] { ran.add(1); });
    EXPECT_TRUE(ran.waitFor(1));
}

TEST(AlertCallbackRegistryTest, WhenFullUnheldRecordsGoOldestFirstAndHeldOnesAreNeverLost) {
    AlertCallbackRegistry registry(3);
    auto record = [](uint32_t id) { return CallbackRecord{id, "<PIPENAME>c" + std::to_string(id) + "</PIPENAME>"}; };
    for (uint32_t id : {1u, 2u, 3u}) ASSERT_EQ(registry.add(id, record(id)), 0u);
    registry.retain(1);
    registry.retain(3);
    registry.retain(3);
    CallbackRecord found;
    // Full: client 2 holds no registration, so it makes room.
    EXPECT_EQ(registry.add(4, record(4)), 0u);
    EXPECT_FALSE(registry.find(2, found));
    EXPECT_EQ(registry.size(), 3u);
    // 4 is the only unheld one now.
    EXPECT_EQ(registry.add(5, record(5)), 0u);
    EXPECT_FALSE(registry.find(4, found));
    registry.retain(5);
    // Everything is held: a new client is refused and nothing changes; known clients still update.
    EXPECT_EQ(registry.add(6, record(6)), AlertCallbackRegistry::kRegistryFull);
    EXPECT_FALSE(registry.find(6, found));
    EXPECT_EQ(registry.add(1, CallbackRecord{1, "<PIPENAME>moved</PIPENAME>"}), 0u);
    ASSERT_TRUE(registry.find(1, found));
    EXPECT_EQ(found.endpoint, "<PIPENAME>moved</PIPENAME>");
    for (uint32_t id : {1u, 3u, 5u}) EXPECT_TRUE(registry.find(id, found)) << id;
    // 3 was held twice: one release keeps it.
    registry.release(3);
    EXPECT_EQ(registry.add(6, record(6)), AlertCallbackRegistry::kRegistryFull);
    registry.release(3);
    registry.release(3);  // more releases than holds change nothing
    EXPECT_EQ(registry.add(6, record(6)), 0u);
    EXPECT_FALSE(registry.find(3, found));
    EXPECT_TRUE(registry.find(6, found));
}

TEST(AlertCallbackRegistryTest, DeliveryWithoutRecordSinkOrBytesSaysSo) {
    AlertCallbackRegistry registry;
    RecordingAlertSink sink;
    const uint8_t alert[] = {0xA5, 0x00, 0x03, 0x00, 0xF0, 0x00};
    EXPECT_EQ(registry.deliverAlert(kHandle, alert, sizeof alert, 9), AlertCallbackRegistry::kNoCallback);
    registry.add(9, CallbackRecord{9, "<PIPENAME>nine</PIPENAME>"});
    EXPECT_EQ(registry.deliverAlert(kHandle, alert, sizeof alert, 9), AlertCallbackRegistry::kNoCallback);
    registry.setSink(&sink);
    EXPECT_EQ(registry.deliverAlert(kHandle, nullptr, 0, 9), 87u);
    EXPECT_EQ(registry.deliverAlert(kHandle, alert, sizeof alert, 9), 0u);
    ASSERT_EQ(sink.calls().size(), 1u);
    EXPECT_EQ(sink.calls()[0].bytes, Bytes(alert, alert + sizeof alert));
    registry.setSink(nullptr);
}

namespace {

// Records every callback with its time; the clients in stuck wait there up to boundMs (the
// service's callback bound) and fail with 1460, as a client that never reads its pipe does.
class TimedSink : public AlertSink {
public:
    explicit TimedSink(uint32_t boundMs) : boundMs_(boundMs) {}
    uint32_t sendCallback(const CallbackRecord&, const std::string& properties, const uint8_t* bytes,
                          uint32_t length) override {
        uint32_t client = 0;
        PropertyAccessor().GetLong(properties, PropertyAccessor::ClientId, client);
        std::unique_lock<std::mutex> guard(lock_);
        if (stuck.count(client) != 0) {
            ++stuckCalls_[client];
            changed_.wait_for(guard, std::chrono::milliseconds(boundMs_), [this] { return released_; });
            return 1460;
        }
        received_[client].push_back(Bytes(bytes, bytes + length));
        at_[client].push_back(Clock::now());
        changed_.notify_all();
        return 0;
    }
    bool waitFor(uint32_t client, size_t n) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return received_[client].size() >= n; });
    }
    std::vector<Bytes> received(uint32_t client) {
        std::lock_guard<std::mutex> guard(lock_);
        return received_[client];
    }
    std::vector<Clock::time_point> at(uint32_t client) {
        std::lock_guard<std::mutex> guard(lock_);
        return at_[client];
    }
    int stuckCalls(uint32_t client) {
        std::lock_guard<std::mutex> guard(lock_);
        return stuckCalls_[client];
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    std::set<uint32_t> stuck;

private:
    const uint32_t boundMs_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    std::map<uint32_t, std::vector<Bytes>> received_;
    std::map<uint32_t, std::vector<Clock::time_point>> at_;
    std::map<uint32_t, int> stuckCalls_;
};

class AlertDeliveryTest : public ::testing::Test {
protected:
    AlertDeliveryTest()
        : services{lookup, callbacks, &factory,
                   [this](const std::string& line) {
                       std::lock_guard<std::mutex> guard(logLock);
                       logLines.push_back(line);
                   }},
          operations(services, table) {}
    void TearDown() override {
        // The delivery workers end before the sink they call goes.
        table.destroyAll();
        callbacks.setSink(nullptr);
    }

    std::shared_ptr<Printer> openUsb001() {
        EXPECT_EQ(operations.openPrinterEx("USB001", kHandle), 0u);
        return table.find(kHandle);
    }
    void addClient(uint32_t id) { callbacks.add(id, CallbackRecord{id, "<PIPENAME>c" + std::to_string(id) + "</PIPENAME>"}); }
    // Alerts emitted by the printer as n separate writes; their bytes in order.
    std::vector<Bytes> burst(int n) {
        std::vector<Bytes> sent;
        {
            std::lock_guard<std::mutex> guard(factory.last->lock_);
            NpaPrinterEngine copy = factory.last->engine;  // the same numbering, to know the bytes
            for (int i = 0; i < n; ++i) {
                EXPECT_TRUE(factory.last->engine.emitAlert(0));
                NpaPrinterWrite write;
                copy.emitAlert(0);
                while (copy.takeDue(0, write) && write.what != "alert") {
                }
                sent.push_back(write.bytes);
            }
        }
        factory.last->wake();
        return sent;
    }
    // Bounded: true once check() holds.
    static bool eventually(const std::function<bool()>& check) {
        const auto start = Clock::now();
        while (!check()) {
            if (msSince(start) > kWaitMs) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    std::vector<std::string> logged(const std::string& part) {
        std::lock_guard<std::mutex> guard(logLock);
        std::vector<std::string> found;
        for (const std::string& line : logLines) {
            if (line.find(part) != std::string::npos) found.push_back(line);
        }
        return found;
    }
    uint64_t countOf(NpaRequestKind kind) {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        return factory.last->engine.countOf(kind);
    }

    RecordingLookup lookup;
    AlertCallbackRegistry callbacks;
    EnginePortFactory factory{lookup};
    std::mutex logLock;
    std::vector<std::string> logLines;
    SessionServices services;
    PrinterTable table;
    PrinterOperations operations;
    std::unique_ptr<TimedSink> sink;
};

}  // namespace

TEST_F(AlertDeliveryTest, AStuckClientNeitherHoldsUpTheOthersNorKeepsMoreThanItsQueue) {
    constexpr uint32_t kBoundMs = 300;
    sink.reset(new TimedSink(kBoundMs));
    sink->stuck.insert(1);
    callbacks.setSink(sink.get());
    std::shared_ptr<Printer> printer = openUsb001();
    for (uint32_t id : {1u, 2u, 3u}) {
        addClient(id);
        ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, id, kHandle}), 0u);
    }
    // 30 alerts, taken by the reading clients at once, pile up behind client 1's first callback;
    // the burst of 50 that follows overflows its queue of 64.
    std::vector<Bytes> sent = burst(30);
    for (uint32_t id : {2u, 3u}) ASSERT_TRUE(sink->waitFor(id, 30)) << "client " << id;
    // Client 1's worker holds the first alert in its callback before the next burst comes (its
    // thread can take a few milliseconds to start on a loaded machine).
    ASSERT_TRUE(eventually([&] { return sink->stuckCalls(1) >= 1; }));
    const std::vector<Bytes> second = burst(50);
    sent.insert(sent.end(), second.begin(), second.end());
    const auto start = Clock::now();
    for (uint32_t id : {2u, 3u}) {
        ASSERT_TRUE(sink->waitFor(id, 80)) << "client " << id;
        EXPECT_EQ(sink->received(id), sent) << "client " << id;  // all, in order
    }
    // Had client 1's 300 ms callbacks been in the way, this would take 50 of them.
    EXPECT_LT(msSince(start), 2000);
    // Every alert has been through onAlert (the session keeps the last packet after it).
    const Bytes& last = sent.back();
    ASSERT_TRUE(eventually([&] {
        const Data packet = printer->lastPacket();
        return Bytes(packet.Bytes(), packet.Bytes() + packet.Size()) == last;
    }));
    // Client 1 sits in its first callback (or its second): 64 wait, the rest were dropped, each
    // drop logged with the running count.
    const uint64_t dropped = printer->droppedAlerts(1);
    EXPECT_GE(dropped, 80u - 1 - Printer::kAlertQueueCapacity - 2);
    EXPECT_LE(dropped, 80u - 1 - Printer::kAlertQueueCapacity);
    const std::vector<std::string> drops = logged("client 1 queue full, oldest alert dropped");
    ASSERT_EQ(drops.size(), dropped);
    EXPECT_NE(drops.back().find("dropped=" + std::to_string(dropped)), std::string::npos) << drops.back();
    EXPECT_EQ(printer->droppedAlerts(2), 0u);
    EXPECT_EQ(printer->droppedAlerts(3), 0u);

    // A failing client is tried again with each alert it is given.
    const int before = sink->stuckCalls(1);
    EXPECT_GE(before, 1);
    sink->release();
    // Its registration going ends its worker at once; what waited is discarded.
    const auto unregistering = Clock::now();
    EXPECT_EQ(printer->UnregisterForAlerts(1), 0u);
    EXPECT_LT(msSince(unregistering), 1000);
    EXPECT_EQ(printer->droppedAlerts(1), 0u);
    EXPECT_GE(logged("client 1 callback failed: rc=1460").size(), 1u);
    for (uint32_t id : {2u, 3u}) printer->UnregisterForAlerts(id);
}

TEST_F(AlertDeliveryTest, AbortEndsEveryWorkerTogetherWithinOneCallbackBound) {
    constexpr uint32_t kBoundMs = 800;
    sink.reset(new TimedSink(kBoundMs));
    std::shared_ptr<Printer> printer = openUsb001();
    callbacks.setSink(sink.get());
    for (uint32_t id = 1; id <= 5; ++id) {
        sink->stuck.insert(id);
        addClient(id);
        ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, id, kHandle}), 0u);
    }
    burst(3);
    for (uint32_t id = 1; id <= 5; ++id) {
        const auto start = Clock::now();
        while (sink->stuckCalls(id) == 0 && msSince(start) < kWaitMs) std::this_thread::yield();
        ASSERT_EQ(sink->stuckCalls(id), 1) << id;
    }
    const auto start = Clock::now();
    table.destroyAll();  // what the service's stop does
    const long long took = msSince(start);
    // Five stuck callbacks end in parallel: about one bound, not five.
    EXPECT_LT(took, kBoundMs + 700);
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 9, kHandle}), Printer::kAborted);
    burst(1);  // nothing is queued after the stop
    EXPECT_EQ(printer->droppedAlerts(1), 0u);
    for (uint32_t id = 1; id <= 5; ++id) EXPECT_EQ(sink->stuckCalls(id), 1) << id;
}

TEST_F(AlertDeliveryTest, ReadingRestoredSendsTheMergedMaskAgainWithThePendingLanguage) {
    std::shared_ptr<Printer> printer = openUsb001();
    // Without registrations nothing goes to the printer.
    factory.last->reportReadingRestored();
    EXPECT_EQ(printer->reregistrations(), 0u);

    addClient(1);
    addClient(2);
    ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x400, 2, kHandle}), 0u);
    const uint64_t deviceStatus = countOf(NpaRequestKind::RegisterForDeviceStatusAlerts);
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        ASSERT_EQ(factory.last->engine.registeredAlertMask(), 0x401u);
        factory.last->engine.forgetRegistrations();  // the printer was power-cycled
    }
    printer->setLanguageId("2");
    const size_t textsBefore = lookup.recorder.texts().size();
    factory.last->reportReadingRestored();
    ASSERT_TRUE(eventually([&] { return !logged("-Printer::reregisterAlerts()").empty(); }));
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        EXPECT_EQ(factory.last->engine.registeredAlertMask(), 0x401u);
    }
    EXPECT_GT(countOf(NpaRequestKind::RegisterForDeviceStatusAlerts), deviceStatus);
    const std::vector<std::string> texts = lookup.recorder.texts();
    ASSERT_EQ(texts.size(), textsBefore + 1);
    uint32_t value = 0;
    EXPECT_EQ(PropertyAccessor().GetLong(texts.back(), PropertyAccessor::NewAlertMask, value), 0u);
    EXPECT_EQ(value, 0x401u);
    EXPECT_EQ(PropertyAccessor().GetLong(texts.back(), PropertyAccessor::CurrentAlertMask, value), 0u);
    EXPECT_EQ(value, 0u);
    std::string language;
    EXPECT_EQ(PropertyAccessor().GetString(texts.back(), PropertyAccessor::LanguageId, language), 0u);
    EXPECT_EQ(language, "2");
    EXPECT_FALSE(printer->languageChanged());
    EXPECT_EQ(printer->reregistrations(), 1u);
    EXPECT_EQ(logged("+Printer::reregisterAlerts() portHandle = 0x00002001 mask = 0x00000401").size(), 1u);
    EXPECT_EQ(logged("-Printer::reregisterAlerts() portHandle = 0x00002001 rc=0").size(), 1u);
    // The port use of the re-registration was given back; the two registrations keep theirs.
    EXPECT_EQ(factory.last->openCount(), 2);
    printer->UnregisterForAlerts(1);
    printer->UnregisterForAlerts(2);
    EXPECT_EQ(factory.last->openCount(), 0);
}
