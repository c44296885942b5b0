#include "runtime/Thread.h"

#include "runtime/Exception.h"

#include <process.h>

#include <atomic>
#include <exception>

struct Thread::StartBlock {
    Runnable* runnable;
    UniqueHandle started;
    std::atomic<bool> begun{false};
};

Thread::Thread(Runnable& runnable)
    : stackSize_(kDefaultStackSize), threadId_(0), priority_(THREAD_PRIORITY_NORMAL), runnable_(runnable) {}

Thread::~Thread() {
    if (handle_) WaitForSingleObject(handle_.get(), INFINITE);
}

// Threads are created through the C run-time library so that its per-thread state (errno,
// strtok, locale) is set up and freed with the thread; the system's CreateThread would skip that.
void Thread::start() {
    if (start_) throw Win32Exception("Thread::start()", ERROR_ALREADY_INITIALIZED);
    std::unique_ptr<StartBlock> block(new StartBlock);
    block->runnable = &runnable_;
    block->started.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!block->started) throw Win32Exception("Thread::start()", GetLastError());
    unsigned id = 0;
    SetLastError(ERROR_SUCCESS);
    const uintptr_t thread = _beginthreadex(nullptr, stackSize_, &Thread::entry, block.get(), 0, &id);
    if (thread == 0) {
        // The run-time library may fail before asking the system (its own allocation); a code of
        // 0 would read as success.
        const DWORD code = GetLastError();
        throw Win32Exception("Thread::start()", code != ERROR_SUCCESS ? code : ERROR_NOT_ENOUGH_MEMORY);
    }
    handle_.reset(reinterpret_cast<HANDLE>(thread));
    threadId_ = id;
    start_ = std::move(block);
    SetThreadPriority(handle_.get(), priority_);
    // Also waiting on the thread itself: should it end without signalling (killed from outside),
    // start() must not hang.
    const HANDLE waitFor[2] = {start_->started.get(), handle_.get()};
    WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
    start_->started.reset();
}

unsigned __stdcall Thread::entry(void* data) {
    auto* block = static_cast<StartBlock*>(data);
    Runnable* runnable = block->runnable;
    block->begun.store(true);
    // After this signal the starting thread closes the event; it is not touched again.
    SetEvent(block->started.get());
    // An exception leaving the thread body would end the whole process: it becomes the exit code.
    try {
        return runnable->run();
    } catch (const Exception& e) {
        return e.code() != 0 ? static_cast<unsigned>(e.code()) : ERROR_INTERNAL_ERROR;
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}

bool Thread::isRunning() const {
    DWORD code = 0;
    return handle_ && GetExitCodeThread(handle_.get(), &code) && code == STILL_ACTIVE;
}

bool Thread::hasBegun() const { return start_ && start_->begun.load(); }

bool Thread::waitForEnd(DWORD milliseconds) {
    if (!handle_) return true;
    const DWORD result = WaitForSingleObject(handle_.get(), milliseconds);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

uint32_t Thread::exitCode() const {
    DWORD code = 0;
    if (!handle_) TOLVEX_THROW_WIN32("Thread::exitCode() GetExitCodeThread failed", ERROR_INVALID_HANDLE);
    if (!GetExitCodeThread(handle_.get(), &code))
        TOLVEX_THROW_WIN32("Thread::exitCode() GetExitCodeThread failed", GetLastError());
    return code;
}
