#include "runtime/ThreadRun.h"

#include "runtime/Exception.h"

#include <exception>
#include <mutex>

void ThreadRun::execute() { finish(call()); }

uint32_t ThreadRun::call() {
    {
        std::lock_guard<Monitor> guard(monitor);
        begun = true;
        threadId = GetCurrentThreadId();
    }
    monitor.notifyAll();
    // An exception leaving the thread body would end the whole process: it becomes the exit code.
    try {
        return runnable->run();
    } catch (const Exception& e) {
        return e.code() != 0 ? static_cast<uint32_t>(e.code()) : ERROR_INTERNAL_ERROR;
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}

void ThreadRun::finish(uint32_t code) {
    std::lock_guard<Monitor> guard(monitor);
    exitCode = code;
    ended = true;
    if (endEventHandle) SetEvent(endEventHandle.get());
    // Notified under the lock: once it is released a waiter may free this record.
    monitor.notifyAll();
}

bool ThreadRun::waitBegun(uint32_t milliseconds) {
    std::lock_guard<Monitor> guard(monitor);
    return monitor.waitUntil(milliseconds, [&] { return begun || ended; });
}

bool ThreadRun::waitEnded(uint32_t milliseconds) {
    std::lock_guard<Monitor> guard(monitor);
    return monitor.waitUntil(milliseconds, [&] { return ended; });
}

HANDLE ThreadRun::endEvent() {
    std::lock_guard<Monitor> guard(monitor);
    if (!endEventHandle) {
        endEventHandle.reset(CreateEventA(nullptr, TRUE, ended ? TRUE : FALSE, nullptr));
    }
    return endEventHandle.get();
}
