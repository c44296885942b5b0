#pragma once
// Runs tasks one after another, in the order they were pushed, on a thread of its own. At most
// capacity tasks wait; a push to a full queue drops the oldest waiting one. push never blocks, so
// a printer's read thread can hand work to a client that is slow or stuck. stop() discards what
// still waits and returns once the task under way (if any) has returned; tasks bound their own
// waits. Any thread may push; stop and the destructor must not run on the worker itself. Portable.
#include "runtime/Monitor.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class BoundedWorkQueue {
public:
    using Task = std::function<void()>;

    // The worker starts at once; raises std::system_error when no thread can be made.
    explicit BoundedWorkQueue(size_t capacity);
    ~BoundedWorkQueue();
    BoundedWorkQueue(const BoundedWorkQueue&) = delete;
    BoundedWorkQueue& operator=(const BoundedWorkQueue&) = delete;

    // Queues task. False when the queue was full and its oldest task was dropped for it, or when
    // the queue is stopping (the task is then dropped itself).
    bool push(Task task);
    // Asks the worker to end after its current task; waiting tasks are discarded. Does not wait.
    void requestStop();
    // requestStop, then waits for the worker to end.
    void stop();

    // Tasks dropped so far (full queue, or pushed while stopping).
    uint64_t dropped() const;
    size_t waiting() const;
    size_t capacity() const { return capacity_; }

private:
    void run();

    const size_t capacity_;
    // A push wakes the worker in user space (see Monitor): a fan-out to many clients wakes many.
    mutable Monitor lock_;
    std::deque<Task> tasks_;
    uint64_t dropped_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};
