#pragma once
// Runs one Runnable (not owned, must outlive the Thread) on a new system thread. start() returns
// only after the new thread has begun; run() may already be under way by then. The exit code is
// run()'s result. Owned by one thread; cannot be restarted. The destructor waits for the thread
// to end without limit and never terminates it: owners make run() return first.
#include "runtime/Runnable.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <memory>

class Thread {
public:
    static constexpr uint32_t kDefaultStackSize = 4096;

    explicit Thread(Runnable& runnable);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Before start(): the initial stack commitment and the SetThreadPriority value.
    void setStackSize(uint32_t bytes) { stackSize_ = bytes; }
    void setPriority(int32_t priority) { priority_ = priority; }

    // Raises Win32Exception "Thread::start()" when the thread cannot be created or was started.
    void start();
    // True while the thread exists and has not returned from run().
    bool isRunning() const;
    // True once the new thread has begun (always true when start() has returned).
    bool hasBegun() const;
    // True when the thread has ended within milliseconds (INFINITE allowed), or never started.
    bool waitForEnd(DWORD milliseconds);
    // The system's identifier of the thread; 0 before start().
    uint32_t threadId() const { return threadId_; }
    // run()'s result once ended; STILL_ACTIVE (259) while running. Raises Win32Exception
    // "Thread::exitCode() GetExitCodeThread failed" before start().
    uint32_t exitCode() const;
    // The thread handle (still owned), null before start().
    HANDLE handle() const { return handle_.get(); }

private:
    struct StartBlock;
    static unsigned __stdcall entry(void* block);

    std::unique_ptr<StartBlock> start_;
    uint32_t stackSize_;
    uint32_t threadId_;
    int32_t priority_;
    UniqueHandle handle_;
    Runnable& runnable_;
};
