#pragma once
// Holds a named Mutex for its lifetime (shared by processes, e.g. the log file). The default
// waits without limit; the bounded form gives up after the time and reports it via acquired().
// Nested locks on one Mutex in one thread: the first to end releases them all (Mutex::release).
#include "runtime/Mutex.h"
#include "runtime/Win32.h"

class InterProcessLock {
public:
    // Raises Win32Exception "InterProcessLock has no name" (code 0) for an unnamed mutex.
    explicit InterProcessLock(Mutex& mutex);
    // Waits at most milliseconds; 0 never acquires (as Mutex::acquire(0)).
    InterProcessLock(Mutex& mutex, DWORD milliseconds);
    ~InterProcessLock();
    InterProcessLock(const InterProcessLock&) = delete;
    InterProcessLock& operator=(const InterProcessLock&) = delete;

    // True when the mutex is held by this lock.
    bool acquired() const { return acquired_; }

private:
    Mutex& mutex_;
    bool acquired_;
};
