#include "runtime/InterProcessLock.h"

#include "runtime/Exception.h"

namespace {
Mutex& requireName(Mutex& mutex) {
    if (mutex.name().empty()) throw Win32Exception("InterProcessLock has no name", 0);
    return mutex;
}
}  // namespace

InterProcessLock::InterProcessLock(Mutex& mutex) : InterProcessLock(mutex, INFINITE) {}

InterProcessLock::InterProcessLock(Mutex& mutex, DWORD milliseconds)
    : mutex_(requireName(mutex)), acquired_(mutex_.acquire(milliseconds)) {}

InterProcessLock::~InterProcessLock() {
    if (!acquired_) return;
    try {
        mutex_.release();
    } catch (const Exception&) {
        // A destructor must not throw; the mutex is released by the system when the thread ends.
    }
}
