#pragma once
// A system mutex (optionally named, shared between processes) that records which thread of this
// process owns it and how often. Safe to use from several threads; ownership is per thread.
// Failed system calls raise Win32Exception.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <string>

class Mutex {
public:
    // everyoneAccess gives the mutex a DACL granting GENERIC_ALL to Everyone. With initiallyOwned
    // the calling thread owns it only if the system granted ownership: a named mutex that already
    // existed is not taken (owned() tells).
    explicit Mutex(bool initiallyOwned = false, const std::string& name = std::string(),
                   bool everyoneAccess = false);
    virtual ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Waits up to milliseconds (INFINITE allowed). 0 returns false at once without trying.
    // True when acquired, abandoned ownership included; false on time-out.
    bool acquire(DWORD milliseconds);
    // Undoes every acquisition of the calling thread at once; ignored unless it is the owner.
    void release();
    // True when the calling thread holds the mutex through this object.
    bool owned() const;

    std::string name() const { return name_; }
    HANDLE handle() const { return handle_.get(); }

private:
    UniqueHandle handle_;
    std::string name_;
    int32_t count_;                  // touched only by the owning thread
    std::atomic<DWORD> owner_;       // 0 when nobody in this process owns it
};
