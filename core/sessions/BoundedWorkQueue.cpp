#include "core/sessions/BoundedWorkQueue.h"

BoundedWorkQueue::BoundedWorkQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {
    worker_ = std::thread([this] { run(); });
}

BoundedWorkQueue::~BoundedWorkQueue() { stop(); }

bool BoundedWorkQueue::push(Task task) {
    bool kept = true;
    {
        std::lock_guard<Monitor> guard(lock_);
        if (stopping_) {
            ++dropped_;
            return false;
        }
        if (tasks_.size() >= capacity_) {
            // The newest work is worth more than the oldest: for alerts, the printer's current
            // state; for a repeated request, the latest one.
            tasks_.pop_front();
            ++dropped_;
            kept = false;
        }
        tasks_.push_back(std::move(task));
    }
    lock_.notifyOne();
    return kept;
}

void BoundedWorkQueue::requestStop() {
    std::deque<Task> discarded;
    {
        std::lock_guard<Monitor> guard(lock_);
        stopping_ = true;
        discarded.swap(tasks_);
    }
    lock_.notifyAll();
    // discarded goes out of scope here, outside the lock: a task's captures may be large.
}

void BoundedWorkQueue::stop() {
    requestStop();
    if (worker_.joinable()) worker_.join();
}

uint64_t BoundedWorkQueue::dropped() const {
    std::lock_guard<Monitor> guard(lock_);
    return dropped_;
}

size_t BoundedWorkQueue::waiting() const {
    std::lock_guard<Monitor> guard(lock_);
    return tasks_.size();
}

void BoundedWorkQueue::run() {
    std::unique_lock<Monitor> guard(lock_);
    for (;;) {
        lock_.waitUntil(Monitor::kInfinite, [this] { return stopping_ || !tasks_.empty(); });
        if (stopping_) return;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        guard.unlock();
        try {
            task();
        } catch (...) {
            // Nothing may leave the worker; the task's owner reports its own failures.
        }
        task = nullptr;
        guard.lock();
    }
}
