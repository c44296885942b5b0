#pragma once
// A thread-safe count for objects shared between threads. It never deletes its owner: the owner
// acts when releaseReference() returns 0. Portable: builds in both trees.
#include "runtime/CriticalSection.h"

#include <cstdint>

class ReferenceCount {
public:
    ReferenceCount();
    virtual ~ReferenceCount();
    ReferenceCount(const ReferenceCount&) = delete;
    ReferenceCount& operator=(const ReferenceCount&) = delete;

    // Adds one; returns the new count.
    int32_t addReference();
    // Takes one away unless already 0; returns the resulting count (0 stays 0).
    int32_t releaseReference();
    int32_t count() const;

private:
    mutable CriticalSection lock_;
    int32_t count_;
};
