#include "runtime/ThreadPool.h"

#include <process.h>

#include <mutex>

struct ThreadPool::Worker {
    ThreadPool* pool = nullptr;
    UniqueHandle handle;
    Monitor monitor;  // the fields below
    std::shared_ptr<ThreadRun> run;
    int32_t priority = THREAD_PRIORITY_NORMAL;
    bool quit = false;
};

ThreadPool::ThreadPool(uint32_t bound) : bound_(bound == 0 ? 1 : bound) {}

ThreadPool::~ThreadPool() {
    std::vector<Worker*> workers;
    {
        std::lock_guard<Monitor> guard(lock_);
        ending_ = true;
        workers = all_;
        // A thread being made is counted in reserved_ only; it finds ending_ set and gives up.
        lock_.waitUntil(Monitor::kInfinite, [&] { return reserved_ == 0; });
        workers = all_;
    }
    for (Worker* worker : workers) {
        {
            std::lock_guard<Monitor> guard(worker->monitor);
            worker->quit = true;
        }
        worker->monitor.notifyOne();
    }
    for (Worker* worker : workers) {
        WaitForSingleObject(worker->handle.get(), INFINITE);
        delete worker;
    }
}

ThreadPool& ThreadPool::requestPath() {
    // Never destroyed: at the end of the process a run may still hold one of its threads, and
    // the system ends parked threads with the process anyway.
    static ThreadPool* pool = new ThreadPool(kRequestPathBound);
    return *pool;
}

uint32_t ThreadPool::threads() const {
    std::lock_guard<Monitor> guard(lock_);
    return static_cast<uint32_t>(all_.size());
}

uint32_t ThreadPool::parked() const {
    std::lock_guard<Monitor> guard(lock_);
    return static_cast<uint32_t>(idle_.size());
}

uint64_t ThreadPool::created() const {
    std::lock_guard<Monitor> guard(lock_);
    return created_;
}

bool ThreadPool::tryRun(const std::shared_ptr<ThreadRun>& run, int32_t priority) {
    Worker* worker = nullptr;
    {
        std::lock_guard<Monitor> guard(lock_);
        if (ending_) return false;
        if (!idle_.empty()) {
            worker = idle_.back();
            idle_.pop_back();
        } else if (all_.size() + reserved_ < bound_) {
            ++reserved_;
        } else {
            return false;
        }
    }
    if (worker != nullptr) {
        {
            std::lock_guard<Monitor> guard(worker->monitor);
            worker->run = run;
            worker->priority = priority;
        }
        worker->monitor.notifyOne();
        return true;
    }
    // A new thread, made outside the pool's lock: that takes milliseconds. It starts with its
    // first run already in hand.
    std::unique_ptr<Worker> made(new Worker);
    made->pool = this;
    made->run = run;
    made->priority = priority;
    // Suspended until it is listed, so that the destructor finds every thread it must end.
    const uintptr_t thread = _beginthreadex(nullptr, 0, &ThreadPool::entry, made.get(), CREATE_SUSPENDED, nullptr);
    std::lock_guard<Monitor> guard(lock_);
    --reserved_;
    if (reserved_ == 0) lock_.notifyAll();
    if (thread == 0) return false;
    made->handle.reset(reinterpret_cast<HANDLE>(thread));
    all_.push_back(made.get());
    ++created_;
    ResumeThread(made->handle.get());
    made.release();
    return true;
}

unsigned __stdcall ThreadPool::entry(void* data) {
    Worker* worker = static_cast<Worker*>(data);
    worker->pool->serve(*worker);
    return 0;
}

void ThreadPool::serve(Worker& worker) {
    const HANDLE self = GetCurrentThread();
    for (;;) {
        std::shared_ptr<ThreadRun> run;
        int32_t priority = THREAD_PRIORITY_NORMAL;
        {
            std::lock_guard<Monitor> guard(worker.monitor);
            worker.monitor.waitUntil(Monitor::kInfinite, [&] { return worker.run != nullptr || worker.quit; });
            if (worker.run == nullptr) return;
            run.swap(worker.run);
            priority = worker.priority;
        }
        if (priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(self, priority);
        const uint32_t code = run->call();
        if (priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(self, THREAD_PRIORITY_NORMAL);
        // Parked before the run counts as ended: whoever waited for the end and starts the next
        // run at once finds this thread free instead of making another. A run handed over
        // meanwhile waits in the worker's slot until the loop comes round.
        {
            std::lock_guard<Monitor> guard(lock_);
            if (!ending_) idle_.push_back(&worker);
        }
        run->finish(code);
    }
}
