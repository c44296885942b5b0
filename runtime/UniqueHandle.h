#pragma once
// Move-only owners of OS handles. The close routine and the invalid value are part of the type,
// so a handle can only be closed the way its kind requires. reset() and the destructor keep the
// thread's last error, so an owner going out of scope between a failed call and GetLastError()
// does not change the code that is reported.
#include "runtime/Win32.h"

#include <utility>

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : value_(Traits::invalid()) {}
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    // The owned value (still owned), or the invalid value.
    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes what is owned (if anything) and takes ownership of value; the last error survives.
    void reset(Type value = Traits::invalid()) noexcept {
        if (value_ == value) return;
        const DWORD lastError = GetLastError();
        if (valid()) Traits::close(value_);
        value_ = value;
        SetLastError(lastError);
    }

    // Gives up ownership without closing; the caller closes the result.
    Type release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // For out-parameters (RegCreateKeyExA and the like): closes what is owned, then lends the slot.
    Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_;
};

namespace unique_handle_traits {
struct Handle {
    using Type = HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { CloseHandle(h); }
};
struct FileHandle {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { CloseHandle(h); }
};
struct RegKey {
    using Type = HKEY;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { RegCloseKey(h); }
};
struct ScHandle {
    using Type = SC_HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { CloseServiceHandle(h); }
};
struct Module {
    using Type = HMODULE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { FreeLibrary(h); }
};
struct DevNotify {
    using Type = HDEVNOTIFY;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { UnregisterDeviceNotification(h); }
};
}  // namespace unique_handle_traits

// Events, mutexes, threads, processes: CloseHandle, null when empty.
using UniqueHandle = UniqueResource<unique_handle_traits::Handle>;
// CreateFileA and CreateNamedPipeA results: CloseHandle, INVALID_HANDLE_VALUE when empty.
using UniqueFileHandle = UniqueResource<unique_handle_traits::FileHandle>;
// Registry keys opened or created by us (never the predefined roots): RegCloseKey.
using UniqueRegKey = UniqueResource<unique_handle_traits::RegKey>;
// Service control manager and service handles: CloseServiceHandle.
using UniqueScHandle = UniqueResource<unique_handle_traits::ScHandle>;
// LoadLibraryA results: FreeLibrary. Not for GetModuleHandleA, which adds no reference.
using UniqueModule = UniqueResource<unique_handle_traits::Module>;
// RegisterDeviceNotificationA results: UnregisterDeviceNotification.
using UniqueDevNotify = UniqueResource<unique_handle_traits::DevNotify>;
