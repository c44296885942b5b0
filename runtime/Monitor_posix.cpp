#include "runtime/Monitor.h"

#include <condition_variable>
#include <mutex>

struct Monitor::Impl {
    std::mutex mutex;
    std::condition_variable condition;
};

Monitor::Monitor() : impl_(new Impl) {}
Monitor::~Monitor() = default;

void Monitor::lock() { impl_->mutex.lock(); }
void Monitor::unlock() { impl_->mutex.unlock(); }

bool Monitor::wait(uint32_t milliseconds) {
    // The caller holds the mutex through its own guard; adopt it for the wait and give it back.
    std::unique_lock<std::mutex> held(impl_->mutex, std::adopt_lock);
    bool notified = true;
    if (milliseconds == kInfinite) {
        impl_->condition.wait(held);
    } else {
        notified = impl_->condition.wait_for(held, std::chrono::milliseconds(milliseconds)) == std::cv_status::no_timeout;
    }
    held.release();
    return notified;
}

void Monitor::notifyOne() { impl_->condition.notify_one(); }
void Monitor::notifyAll() { impl_->condition.notify_all(); }
