#include "runtime/Mutex.h"

#include "runtime/Exception.h"
#include "runtime/Security.h"

#include <memory>

Mutex::Mutex(bool initiallyOwned, const std::string& name, bool everyoneAccess)
    : name_(name), count_(0), owner_(0) {
    std::unique_ptr<SecurityEveryone> security;
    if (everyoneAccess) security.reset(new SecurityEveryone(false));
    handle_.reset(CreateMutexA(security ? security->attributes() : nullptr, initiallyOwned ? TRUE : FALSE,
                               name_.empty() ? nullptr : name_.c_str()));
    if (!handle_) TOLVEX_THROW_WIN32("Mutex::createMutex() CreateMutex failed", GetLastError());
    // Opening an existing named mutex ignores the ownership request; recording ownership anyway
    // would let two processes believe they hold it and make release() fail later.
    if (initiallyOwned && GetLastError() != ERROR_ALREADY_EXISTS) {
        count_ = 1;
        owner_.store(GetCurrentThreadId());
    }
}

Mutex::~Mutex() {
    // Closing the handle does not give up ownership: the mutex would stay held until this thread
    // ends, blocking other processes meanwhile.
    if (owned()) {
        while (count_-- > 0) ReleaseMutex(handle_.get());
        owner_.store(0);
    }
}

bool Mutex::acquire(DWORD milliseconds) {
    if (milliseconds == 0) return false;
    const DWORD result = WaitForSingleObject(handle_.get(), milliseconds);
    switch (result) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        owner_.store(GetCurrentThreadId());
        ++count_;
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        TOLVEX_THROW_WIN32("Mutex::acquire() WaitForSingleObject failed", GetLastError());
    }
}

void Mutex::release() {
    if (!owned()) return;
    int32_t count = count_;
    count_ = 0;
    // Cleared before the system lets go, so the next owner's record is never overwritten.
    owner_.store(0);
    for (; count > 0; --count)
        if (!ReleaseMutex(handle_.get())) TOLVEX_THROW_WIN32("Mutex::release() ReleaseMutex failed", GetLastError());
}

bool Mutex::owned() const { return owner_.load() == GetCurrentThreadId(); }
