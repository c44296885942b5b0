#include "runtime/CriticalSection.h"

#include <mutex>

struct CriticalSection::Impl {
    std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::enter() { impl_->mutex.lock(); }
void CriticalSection::leave() { impl_->mutex.unlock(); }
