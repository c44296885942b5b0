#include "runtime/Thread.h"

#include "runtime/Exception.h"

#include <process.h>

#include <mutex>

Thread::Thread(Runnable& runnable, ThreadPool* pool)
    : runnable_(runnable), pool_(pool), stackSize_(kDefaultStackSize), priority_(THREAD_PRIORITY_NORMAL),
      pooled_(false) {}

Thread::~Thread() {
    // A thread of its own is joined, so that nothing of it outlives the object; its record goes
    // with the members, after the join.
    if (handle_) {
        WaitForSingleObject(handle_.get(), INFINITE);
    } else if (run_) {
        run_->waitEnded(Monitor::kInfinite);
    }
}

// Threads of their own are created through the C run-time library so that its per-thread state
// (errno, strtok, locale) is set up and freed with the thread; the system's CreateThread would
// skip that.
void Thread::start() {
    if (run_) throw Win32Exception("Thread::start()", ERROR_ALREADY_INITIALIZED);
    std::shared_ptr<ThreadRun> run = std::make_shared<ThreadRun>(runnable_);
    if (pool_ != nullptr && pool_->tryRun(run, priority_)) {
        run_ = std::move(run);
        pooled_ = true;
        run_->waitBegun(Monitor::kInfinite);
        return;
    }
    unsigned id = 0;
    SetLastError(ERROR_SUCCESS);
    // The new thread holds no reference of its own: the record lives in run_, which the
    // destructor keeps until the thread has ended.
    const uintptr_t thread = _beginthreadex(nullptr, stackSize_, &Thread::entry, run.get(), 0, &id);
    if (thread == 0) {
        // The run-time library may fail before asking the system (its own allocation); a code of
        // 0 would read as success.
        const DWORD code = GetLastError();
        throw Win32Exception("Thread::start()", code != ERROR_SUCCESS ? code : ERROR_NOT_ENOUGH_MEMORY);
    }
    handle_.reset(reinterpret_cast<HANDLE>(thread));
    run_ = std::move(run);
    SetThreadPriority(handle_.get(), priority_);
    // Should the thread end without beginning the run (killed from outside), start() must not
    // hang: the begin is awaited in slices, with a look at the thread between them.
    while (!run_->waitBegun(100)) {
        if (WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0) break;
    }
}

unsigned __stdcall Thread::entry(void* data) {
    ThreadRun* run = static_cast<ThreadRun*>(data);
    run->execute();
    // The run's exit code is kept in the record, which outlives this thread.
    return 0;
}

bool Thread::isRunning() const {
    if (!run_) return false;
    std::lock_guard<Monitor> guard(run_->monitor);
    return !run_->ended;
}

bool Thread::hasBegun() const {
    if (!run_) return false;
    std::lock_guard<Monitor> guard(run_->monitor);
    return run_->begun;
}

bool Thread::waitForEnd(DWORD milliseconds) {
    if (!run_) return true;
    return run_->waitEnded(milliseconds == INFINITE ? Monitor::kInfinite : milliseconds);
}

uint32_t Thread::threadId() const {
    if (!run_) return 0;
    std::lock_guard<Monitor> guard(run_->monitor);
    return run_->threadId;
}

uint32_t Thread::exitCode() const {
    if (!run_) TOLVEX_THROW_WIN32("Thread::exitCode() GetExitCodeThread failed", ERROR_INVALID_HANDLE);
    std::lock_guard<Monitor> guard(run_->monitor);
    return run_->exitCode;
}

HANDLE Thread::endHandle() {
    if (!run_) return nullptr;
    // A thread of its own is signalled when it ends, which follows the end of the run at once.
    if (handle_) return handle_.get();
    return run_->endEvent();
}
