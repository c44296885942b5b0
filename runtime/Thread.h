#pragma once
// Runs one Runnable (not owned, must outlive the Thread) on a system thread: a new one, or a
// parked one of the ThreadPool given at construction when it has one to spare. Either way
// start() returns only after the run has begun (run() may already be under way), the run
// happens once, and isRunning, waitForEnd and exitCode are those of this run. Owned by one
// thread; cannot be restarted. The destructor waits for run() to return without limit and never
// terminates anything: owners make run() return first.
#include "runtime/Runnable.h"
#include "runtime/ThreadPool.h"
#include "runtime/ThreadRun.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <memory>

class Thread {
public:
    static constexpr uint32_t kDefaultStackSize = 4096;

    // pool null: always a system thread of its own.
    explicit Thread(Runnable& runnable, ThreadPool* pool = nullptr);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Before start(): the initial stack commitment of a thread of its own (a pool's threads keep
    // theirs) and the SetThreadPriority value for this run.
    void setStackSize(uint32_t bytes) { stackSize_ = bytes; }
    void setPriority(int32_t priority) { priority_ = priority; }

    // Raises Win32Exception "Thread::start()" when no thread can run it or it was started.
    void start();
    // True from start() until run() has returned.
    bool isRunning() const;
    // True once the run has begun (always true when start() has returned).
    bool hasBegun() const;
    // True when run() has returned within milliseconds (INFINITE allowed), or was never started.
    bool waitForEnd(DWORD milliseconds);
    // The system identifier of the thread carrying the run; 0 before start().
    uint32_t threadId() const;
    // run()'s result once it has returned; STILL_ACTIVE (259) while running. Raises
    // Win32Exception "Thread::exitCode() GetExitCodeThread failed" before start().
    uint32_t exitCode() const;
    // A handle (still owned) that is signalled once run() has returned, for waits on several
    // objects; null before start() or when none can be made.
    HANDLE endHandle();
    // True when a pool's thread carries the run.
    bool pooled() const { return pooled_; }

private:
    static unsigned __stdcall entry(void* run);

    Runnable& runnable_;
    ThreadPool* pool_;
    uint32_t stackSize_;
    int32_t priority_;
    std::shared_ptr<ThreadRun> run_;
    UniqueHandle handle_;  // a thread of its own
    bool pooled_;
};
