#include "core/usb/port/Subject.h"

#include <algorithm>
#include <exception>

Subject::Subject() = default;

Subject::~Subject() {
    std::lock_guard<std::mutex> guard(lock_);
    observers_.clear();
}

void Subject::attach(Observer* observer) {
    std::lock_guard<std::mutex> guard(lock_);
    observers_.push_back(observer);
}

void Subject::detach(Observer* observer) {
    std::unique_lock<std::mutex> guard(lock_);
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it != observers_.end()) observers_.erase(it);
    // A delivery that passed the membership check may still be inside the observer; its owner
    // is about to destroy it. Hooks in this system end within bounded time (reply matching and
    // bounded alert callbacks), so this wait ends too. A hook detaching its own observer is on
    // the delivering thread and must not wait for itself.
    deliveryDone_.wait(guard, [&] { return !deliveringToOtherThread(observer); });
}

bool Subject::deliveringToOtherThread(Observer* observer) const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(deliveries_.begin(), deliveries_.end(),
                       [&](const Delivery& d) { return d.observer == observer && d.thread != self; });
}

size_t Subject::observerCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return observers_.size();
}

void Subject::deliver(const std::function<void(Observer&)>& hook) {
    std::vector<Observer*> copy;
    {
        std::lock_guard<std::mutex> guard(lock_);
        copy = observers_;
    }
    const std::thread::id self = std::this_thread::get_id();
    for (Observer* observer : copy) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) continue;
            deliveries_.push_back(Delivery{observer, self});
        }
        bool failed = false;
        try {
            hook(*observer);
        } catch (...) {
            // A failing observer ends this delivery; the read thread must live on.
            failed = true;
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto it = std::find_if(deliveries_.begin(), deliveries_.end(), [&](const Delivery& d) {
                return d.observer == observer && d.thread == self;
            });
            if (it != deliveries_.end()) deliveries_.erase(it);
        }
        deliveryDone_.notify_all();
        if (failed) return;
    }
}

void Subject::notifyValue(uint64_t value) {
    deliver([&](Observer& o) { o.onValue(value); });
}

void Subject::notifyCodeAndPointer(int32_t code, void* pointer) {
    deliver([&](Observer& o) { o.onCodeAndPointer(code, pointer); });
}

void Subject::notifyCodeAndValue(int32_t code, uint64_t value) {
    deliver([&](Observer& o) { o.onCodeAndValue(code, value); });
}

void Subject::notifyPointer(void* pointer) {
    deliver([&](Observer& o) { o.onPointer(pointer); });
}

void Subject::notifyData(Data* packet) {
    deliver([&](Observer& o) { o.onData(packet); });
}
