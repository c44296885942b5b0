#pragma once
// Hands values and packets to the observers attached to it, in order of attachment (duplicates
// are delivered twice). Deliveries run on the caller's thread without the list lock held, so a
// hook may attach or detach. detach() returns only when no other thread is inside a hook of that
// observer, so an observer may be destroyed right after detaching. Portable; any thread.
#include "core/usb/port/Observer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class Subject {
public:
    Subject();
    virtual ~Subject();
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    virtual void attach(Observer* observer);
    // Removes the first equal entry (nothing if absent), then waits until deliveries to it on
    // other threads have returned.
    virtual void detach(Observer* observer);
    virtual void notifyValue(uint64_t value);
    virtual void notifyCodeAndPointer(int32_t code, void* pointer);
    virtual void notifyCodeAndValue(int32_t code, uint64_t value);
    virtual void notifyPointer(void* pointer);
    virtual void notifyData(Data* packet);

    size_t observerCount() const;

private:
    struct Delivery {
        Observer* observer;
        std::thread::id thread;
    };
    void deliver(const std::function<void(Observer&)>& hook);
    bool deliveringToOtherThread(Observer* observer) const;

    std::vector<Observer*> observers_;
    std::vector<Delivery> deliveries_;
    mutable std::mutex lock_;
    std::condition_variable deliveryDone_;
};
