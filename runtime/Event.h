#pragma once
// A system event that can also carry a failure: setError(code) wakes a waiter whose wait() then
// returns false once, while errorCode() keeps the code, so the waiter can tell a failure from a
// time-out. Safe to set and wait from different threads. Failed system calls raise
// Win32Exception.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <string>

class Event {
public:
    // everyoneAccess gives the event a DACL granting GENERIC_ALL to Everyone (for named events
    // that other users' processes open). An empty name makes a private event.
    Event(bool manualReset, bool initiallySignalled, const std::string& name = std::string(),
          bool everyoneAccess = false);
    virtual ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Signals; clears any error left by setError.
    void set();
    // Records code, marks the error and signals.
    void setError(uint32_t code);
    // The code of the last setError, until set() or reset(); 0 otherwise.
    uint32_t errorCode() const { return errorCode_.load(); }
    // Unsignals and clears the error and its code.
    void reset();
    // A zero-time wait: on an auto-reset event a true result consumes the signal.
    bool isSignalled();
    // True when signalled without an error within milliseconds (INFINITE allowed). False on
    // time-out, on abandonment, and once after setError (the error mark is then cleared, the
    // code stays).
    bool wait(DWORD milliseconds);

    // For WaitForMultipleObjects; still owned by the Event.
    HANDLE handle() const { return handle_.get(); }
    std::string name() const { return name_; }

private:
    UniqueHandle handle_;
    std::string name_;
    std::atomic<bool> error_;
    std::atomic<uint32_t> errorCode_;
};
