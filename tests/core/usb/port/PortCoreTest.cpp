// The portable pieces of the port: back-off schedule, model check, observer delivery, the
// short-packet queue and NpaData.
#include "core/usb/port/NpaData.h"
#include "core/usb/port/NpaModelCheck.h"
#include "core/usb/port/ReadBackoff.h"
#include "core/usb/port/ShortPacketQueue.h"
#include "core/usb/port/Subject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(ReadBackoffTest, PausesDoubleEveryFourthFailureUpToOneSecondAndSuccessStartsOver) {
    ReadBackoff backoff;
    std::vector<uint32_t> pauses;
    for (int i = 0; i < 10; ++i) pauses.push_back(backoff.fail());
    EXPECT_EQ(pauses, (std::vector<uint32_t>{1, 1, 1, 2, 2, 2, 2, 4, 4, 4}));

    for (int i = 0; i < 100; ++i) backoff.fail();
    EXPECT_EQ(backoff.fail(), 1000u);

    backoff.success();
    EXPECT_EQ(backoff.fail(), 1u);
    EXPECT_EQ(backoff.fail(), 1u);
    EXPECT_EQ(backoff.fail(), 1u);
    EXPECT_EQ(backoff.fail(), 2u);
}

TEST(NpaModelCheckTest, OnlyTheModelFieldDecides) {
    struct Case {
        const char* id;
        NpaModelCheck::Outcome outcome;
        bool fromTrue;   // decision when it was true before
        bool fromFalse;  // decision when it was false before
    };
    using O = NpaModelCheck::Outcome;
    const Case cases[] = {
        {"", O::EmptyId, true, false},
        {"MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;", O::Npa, true, true},
        {"MFG:Quorvel;MODEL:K419 Series;CMD:NPA;", O::NotNpa, false, false},
        {"MODEL:Office k628x;", O::NotNpa, false, false},     // upper-cased before the search
        {"MODEL:XK417;MDL:Q100;", O::NotNpa, false, false},    // a fragment anywhere in the value
        {"MFG:Quorvel;MDL:K419;", O::NoModel, true, false},    // only MODEL: counts
        {"MFG:Quorvel;model:K419;", O::NoModel, true, false},  // exact case of the key
        {"MFG:Quorvel;MODEL:K419", O::NoModel, true, false},   // no ';' after the value
        {"MODEL:Q1;MODEL:K419;", O::Npa, true, true},          // the first MODEL: field
        {"CMD:NPA;MODEL:K41 9;", O::Npa, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const NpaModelCheck::Result result = NpaModelCheck::check(c.id);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(NpaModelCheck::wrapping(result, true), c.fromTrue);
        EXPECT_EQ(NpaModelCheck::wrapping(result, false), c.fromFalse);
    }
    EXPECT_EQ(NpaModelCheck::logLine(NpaModelCheck::check("MODEL:K419 Series;")),
              "BcxServiceUsbPort::determineNpaWrapFrom1284String(): Model=K419 Series not NPA supported");
}

namespace {

class RecordingObserver : public Observer {
public:
    explicit RecordingObserver(int id, std::vector<int>* order = nullptr) : id_(id), order_(order) {}
    void onData(Data* packet) override {
        packets.push_back(Data(*packet));
        if (order_ != nullptr) order_->push_back(id_);
        if (action) action();
    }
    void onValue(uint64_t v) override { values.push_back(v); }
    std::vector<Data> packets;
    std::vector<uint64_t> values;
    std::function<void()> action;

private:
    int id_;
    std::vector<int>* order_;
};

Data bytes(std::initializer_list<uint8_t> list) {
    std::vector<uint8_t> v(list);
    return Data(v.data(), static_cast<uint32_t>(v.size()));
}

}  // namespace

TEST(SubjectTest, DeliversInAttachOrderWithDuplicatesAndDetachRemovesOneEntry) {
    Subject subject;
    std::vector<int> order;
    RecordingObserver a(1, &order), b(2, &order);
    subject.attach(&a);
    subject.attach(&b);
    subject.attach(&a);
    Data packet = bytes({0xA5, 0x00, 0x02});
    subject.notifyData(&packet);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1}));

    subject.detach(&a);
    order.clear();
    subject.notifyData(&packet);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
    subject.notifyValue(7);
    EXPECT_EQ(b.values, (std::vector<uint64_t>{7}));
    subject.detach(&a);
    subject.detach(&a);  // absent: nothing happens
    EXPECT_EQ(subject.observerCount(), 1u);
}

TEST(SubjectTest, ObserverDetachedDuringDeliveryIsSkippedAndAThrowingHookEndsTheDelivery) {
    Subject subject;
    std::vector<int> order;
    RecordingObserver a(1, &order), b(2, &order), c(3, &order);
    subject.attach(&a);
    subject.attach(&b);
    subject.attach(&c);
    a.action = [&] { subject.detach(&b); };  // a hook may detach others (and itself) safely
    Data packet = bytes({0x01});
    subject.notifyData(&packet);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));

    order.clear();
    a.action = [] { throw std::runtime_error("observer failed"); };
    EXPECT_NO_THROW(subject.notifyData(&packet));
    EXPECT_EQ(order, (std::vector<int>{1}));
}

TEST(SubjectTest, DetachWaitsUntilADeliveryOnAnotherThreadHasLeftTheObserver) {
    Subject subject;
    RecordingObserver a(1);
    subject.attach(&a);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> hookDone{false};
    a.action = [&] {
        entered.set_value();
        released.wait_for(std::chrono::seconds(10));
        hookDone = true;
    };
    Data packet = bytes({0x01});
    std::thread reader([&] { subject.notifyData(&packet); });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    auto detaching = std::async(std::launch::async, [&] {
        subject.detach(&a);
        return hookDone.load();
    });
    EXPECT_EQ(detaching.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(detaching.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(detaching.get());  // detach returned only after the hook had finished
    reader.join();
}

TEST(ShortPacketQueueTest, KeepsOnlyTheNewestPackets) {
    ShortPacketQueue queue;
    for (uint32_t i = 0; i < ShortPacketQueue::kCapacity + 10; ++i) {
        queue.push(bytes({0xA5, 0x00, 0x02, 0x00, static_cast<uint8_t>(i)}));
    }
    EXPECT_EQ(queue.size(), ShortPacketQueue::kCapacity);
    EXPECT_EQ(queue.total(), ShortPacketQueue::kCapacity + 10);
    Data oldest;
    ASSERT_TRUE(queue.pop(oldest));
    EXPECT_EQ(oldest.Bytes()[4], 10);
}

TEST(NpaDataTest, KeepsTheCommandCodeAndReadsFlag7) {
    const NpaData reply(bytes({0xA5, 0x00, 0x04, 0xC0, 0x7E, 0x01, 0x02}));
    EXPECT_EQ(reply.commandCode(), 0x7E);
    EXPECT_EQ(reply.Size(), 7u);
    EXPECT_TRUE(reply.isFlag7Set());
    const NpaData refusedNot(bytes({0xA5, 0x00, 0x04, 0x40, 0x7E}));
    EXPECT_FALSE(refusedNot.isFlag7Set());
    const NpaData tiny(bytes({0xA5, 0x00}));
    EXPECT_EQ(tiny.commandCode(), 0);
    EXPECT_FALSE(tiny.isFlag7Set());
}
