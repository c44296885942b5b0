#pragma once
// A recursive in-process lock for code that must stay portable (plug-in singletons, the command
// model): a critical section on Windows, a recursive standard mutex elsewhere.
#include <memory>

class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter();
    void leave();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a CriticalSection for the lifetime of the guard.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.enter(); }
    ~CriticalSectionLock() { section_.leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};
