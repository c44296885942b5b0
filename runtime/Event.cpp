#include "runtime/Event.h"

#include "runtime/Exception.h"
#include "runtime/Security.h"

#include <memory>

Event::Event(bool manualReset, bool initiallySignalled, const std::string& name, bool everyoneAccess)
    : name_(name), error_(false), errorCode_(0) {
    std::unique_ptr<SecurityEveryone> security;
    if (everyoneAccess) security.reset(new SecurityEveryone(false));
    handle_.reset(CreateEventA(security ? security->attributes() : nullptr, manualReset ? TRUE : FALSE,
                               initiallySignalled ? TRUE : FALSE, name_.empty() ? nullptr : name_.c_str()));
    if (!handle_) TOLVEX_THROW_WIN32("Event::createEvent() failed", GetLastError());
}

Event::~Event() = default;

void Event::set() {
    // A stale error mark would turn this plain signal into a failure with code 0.
    error_.store(false);
    errorCode_.store(0);
    if (!SetEvent(handle_.get())) TOLVEX_THROW_WIN32("Event::set() failed", GetLastError());
}

void Event::setError(uint32_t code) {
    // Code before mark before signal: a waiter that sees the mark also sees the code.
    errorCode_.store(code);
    error_.store(true);
    if (!SetEvent(handle_.get())) TOLVEX_THROW_WIN32("Event::set() failed", GetLastError());
}

void Event::reset() {
    error_.store(false);
    errorCode_.store(0);
    if (!ResetEvent(handle_.get())) TOLVEX_THROW_WIN32("Event::reset() failed", GetLastError());
}

bool Event::isSignalled() { return WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0; }

bool Event::wait(DWORD milliseconds) {
    switch (WaitForSingleObject(handle_.get(), milliseconds)) {
    case WAIT_OBJECT_0:
        return !error_.exchange(false);
    case WAIT_TIMEOUT:
    case WAIT_ABANDONED:
        return false;
    default:
        TOLVEX_THROW_WIN32("Event::wait() failed", GetLastError());
    }
}
