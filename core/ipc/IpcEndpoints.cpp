#include "core/ipc/IpcEndpoints.h"

#include <chrono>

namespace {
constexpr uint32_t kStopCode = ERROR_OPERATION_ABORTED;
}

IpcEndpoints::IpcEndpoints()
    : reaped_(0), stopped_(false), reaper_(false, false),
      runnable_(*this, &IpcEndpoints::reap), thread_(runnable_) {
    thread_.start();
}

IpcEndpoints::~IpcEndpoints() { stop(); }

bool IpcEndpoints::add(std::unique_ptr<IpcEndpoint> endpoint) {
    if (!endpoint) return false;
    endpoint->setOwner(this);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!stopped_) {
            endpoints_.push_back(std::move(endpoint));
            changed_.notify_all();
            return true;
        }
    }
    // Too late to be served: unblock it before its destructor waits for its thread.
    endpoint->stop();
    return false;
}

void IpcEndpoints::signal() { reaper_.set(); }

uint32_t IpcEndpoints::reap() {
    for (;;) {
        // Unbounded on purpose: stop() marks the event with an error. A signal() racing with it
        // clears that mark, so the flag is what decides.
        const bool woken = reaper_.wait(INFINITE);
        std::list<std::unique_ptr<IpcEndpoint>> finished;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!woken || stopped_) break;
            for (auto it = endpoints_.begin(); it != endpoints_.end();) {
                auto next = std::next(it);
                if ((*it)->isClosed()) finished.splice(finished.end(), endpoints_, it);
                it = next;
            }
        }
        // Deleted outside the lock: a destructor waits for its thread, which may still be
        // calling signal().
        const std::size_t count = finished.size();
        finished.clear();
        if (count > 0) {
            std::lock_guard<std::mutex> guard(lock_);
            reaped_ += count;
            changed_.notify_all();
        }
    }
    return 0;
}

void IpcEndpoints::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopped_) return;
        stopped_ = true;
    }
    reaper_.setError(kStopCode);
    thread_.waitForEnd(INFINITE);
    std::list<std::unique_ptr<IpcEndpoint>> remaining;
    {
        std::lock_guard<std::mutex> guard(lock_);
        remaining.swap(endpoints_);
    }
    // Every pipe is told to stop first, so the threads end together instead of one bound after
    // the other.
    for (auto& endpoint : remaining) endpoint->stop();
    const std::size_t count = remaining.size();
    remaining.clear();
    std::lock_guard<std::mutex> guard(lock_);
    reaped_ += count;
    changed_.notify_all();
}

std::size_t IpcEndpoints::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return endpoints_.size();
}

uint64_t IpcEndpoints::reaped() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reaped_;
}

bool IpcEndpoints::waitFor(const std::function<bool(std::size_t, uint64_t)>& condition, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return condition(endpoints_.size(), reaped_); });
}
