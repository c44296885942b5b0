#include "runtime/CriticalSection.h"
#include "runtime/Win32.h"

struct CriticalSection::Impl {
    CRITICAL_SECTION section;
    Impl() { InitializeCriticalSection(&section); }
    ~Impl() { DeleteCriticalSection(&section); }
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::enter() { EnterCriticalSection(&impl_->section); }
void CriticalSection::leave() { LeaveCriticalSection(&impl_->section); }
