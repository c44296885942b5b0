#pragma once
// A bounded set of parked system threads for runs that come and go often (the service's
// connections and its ports' read loops): a Thread given the pool runs on a parked thread when
// one is free, or on a new one while fewer than the bound exist; tryRun() declines beyond that,
// and the Thread then makes a system thread of its own. A new system thread costs milliseconds
// under Wine (it clears each new stack); handing a run to a parked one costs a wake-up. Parked
// threads wait in user space and cost nothing while idle; they stay until the pool is destroyed.
// Any thread may use the pool. Windows only.
#include "runtime/ThreadRun.h"

#include <cstdint>
#include <memory>
#include <vector>

class ThreadPool {
public:
    // The request path's bound: the service's 64 connections at once, and as many read loops.
    static constexpr uint32_t kRequestPathBound = 128;

    explicit ThreadPool(uint32_t bound);
    // Ends the parked threads and waits for the busy ones: their runs must end first.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The process's pool for the request path; it lives as long as the process.
    static ThreadPool& requestPath();

    // Starts run on a parked thread, or on a new one while fewer than bound() exist, at the
    // given priority for this run only. False, with nothing started, at the bound, when no
    // thread can be made, or once the pool is being destroyed.
    bool tryRun(const std::shared_ptr<ThreadRun>& run, int32_t priority);

    uint32_t bound() const { return bound_; }
    // System threads the pool holds (parked or busy), parked ones, and threads made so far.
    uint32_t threads() const;
    uint32_t parked() const;
    uint64_t created() const;

private:
    struct Worker;
    static unsigned __stdcall entry(void* worker);
    void serve(Worker& worker);

    const uint32_t bound_;
    mutable Monitor lock_;  // everything below
    std::vector<Worker*> all_;
    std::vector<Worker*> idle_;
    uint32_t reserved_ = 0;  // threads being made
    uint64_t created_ = 0;
    bool ending_ = false;
};
