#include "runtime/ReferenceCount.h"

ReferenceCount::ReferenceCount() : count_(0) {}

ReferenceCount::~ReferenceCount() = default;

int32_t ReferenceCount::addReference() {
    CriticalSectionLock lock(lock_);
    return ++count_;
}

int32_t ReferenceCount::releaseReference() {
    CriticalSectionLock lock(lock_);
    // An extra release must not take the count negative: a later add would then report 0 and
    // make its owner delete an object that is still in use.
    if (count_ > 0) --count_;
    return count_;
}

int32_t ReferenceCount::count() const {
    CriticalSectionLock lock(lock_);
    return count_;
}
