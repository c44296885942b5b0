#include "runtime/Monitor.h"

#include "runtime/Win32.h"

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "Monitor keeps the slim lock and the condition in pointer-sized fields");

namespace {
SRWLOCK* srw(void*& field) { return reinterpret_cast<SRWLOCK*>(&field); }
CONDITION_VARIABLE* cv(void*& field) { return reinterpret_cast<CONDITION_VARIABLE*>(&field); }
}  // namespace

// Both start as all-zero bits, which is SRWLOCK_INIT and CONDITION_VARIABLE_INIT.
Monitor::Monitor() = default;
Monitor::~Monitor() = default;

void Monitor::lock() { AcquireSRWLockExclusive(srw(lock_)); }
void Monitor::unlock() { ReleaseSRWLockExclusive(srw(lock_)); }

bool Monitor::wait(uint32_t milliseconds) {
    return SleepConditionVariableSRW(cv(condition_), srw(lock_), milliseconds == kInfinite ? INFINITE : milliseconds,
                                     0) != FALSE;
}

void Monitor::notifyOne() { WakeConditionVariable(cv(condition_)); }
void Monitor::notifyAll() { WakeAllConditionVariable(cv(condition_)); }
