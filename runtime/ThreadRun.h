#pragma once
// One run of a Runnable, shared by the Thread that started it and the system thread that carries
// it out, so that either may go first. execute() runs on the carrying thread: it marks the run
// begun, calls run() once, turns an escaping exception into the exit code and marks the run
// ended; after that it touches neither the runnable nor the Thread. Windows only.
#include "runtime/Monitor.h"
#include "runtime/Runnable.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <cstdint>

struct ThreadRun {
    explicit ThreadRun(Runnable& r) : runnable(&r) {}

    void execute();
    // execute() in two steps, for a carrier that must be ready for its next run before this one
    // counts as ended: call() marks the run begun and runs it, finish() marks it ended.
    uint32_t call();
    void finish(uint32_t code);
    // Waits until begun (or ended) within milliseconds; true when it has.
    bool waitBegun(uint32_t milliseconds);
    // Waits until ended within milliseconds (Monitor::kInfinite allowed); true when it has.
    bool waitEnded(uint32_t milliseconds);
    // An event set once the run has ended, made on first request; null if it cannot be made.
    HANDLE endEvent();

    Runnable* const runnable;
    Monitor monitor;  // guards everything below
    bool begun = false;
    bool ended = false;
    uint32_t exitCode = STILL_ACTIVE;
    uint32_t threadId = 0;
    UniqueHandle endEventHandle;  // made by endEvent()
};
