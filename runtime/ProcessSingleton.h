#pragma once
// One process-wide object of type T, created on first use and destroyed on request, both under
// the singleton's own critical section. The "created" check outside the lock is an atomic
// acquire load, so a thread that sees the object also sees it fully constructed.
//
// Keep a ProcessSingleton as a function-local static (its lock then exists before first use,
// whatever the order of static initialisation):
//     static ProcessSingleton<Foo>& fooSingleton() { static ProcessSingleton<Foo> s; return s; }
// Portable: builds in both trees.
#include "runtime/CriticalSection.h"

#include <atomic>
#include <utility>

template <typename T>
class ProcessSingleton {
public:
    ProcessSingleton() = default;
    ~ProcessSingleton() { destroy(); }
    ProcessSingleton(const ProcessSingleton&) = delete;
    ProcessSingleton& operator=(const ProcessSingleton&) = delete;

    // The object, created with T() on first call. If construction throws, nothing is recorded
    // and the exception propagates; the next call tries again.
    T& get() {
        return get([] { return new T(); });
    }

    // The object, created by create() (returning a new T*) on first call.
    template <typename Create>
    T& get(Create&& create) {
        T* object = instance_.load(std::memory_order_acquire);
        if (object != nullptr) return *object;
        CriticalSectionLock lock(section_);
        object = instance_.load(std::memory_order_relaxed);
        if (object == nullptr) {
            object = std::forward<Create>(create)();
            instance_.store(object, std::memory_order_release);
        }
        return *object;
    }

    // True once the object exists and until destroy().
    bool created() const { return instance_.load(std::memory_order_acquire) != nullptr; }

    // Deletes the object, if any. Callers make sure no other thread still uses it.
    void destroy() {
        CriticalSectionLock lock(section_);
        delete instance_.exchange(nullptr, std::memory_order_acq_rel);
    }

private:
    CriticalSection section_;
    std::atomic<T*> instance_{nullptr};
};
