#pragma once
// Tells cheaply whether a key under HKEY_LOCAL_MACHINE may have changed: its values, its
// subkeys, or its being created or deleted. One thread of the process keeps a change
// notification (RegNotifyChangeKeyValue) on the deepest existing key of each watched path, with
// its subtree, and on that key's parent; when one fires, the thread arms it again and only then
// moves the path's stamp on. A cache that remembers the stamp it was read under is current while
// stamp() still returns it, which costs no system call; a change is seen once the thread has
// been told of it, microseconds after the change. Watches of one path share one notification.
// Any thread. Windows only.
#include <cstdint>
#include <memory>
#include <string>

class RegistryWatch {
public:
    // Watches path (relative to HKEY_LOCAL_MACHINE, trailing backslashes ignored) from now on.
    explicit RegistryWatch(const std::string& path);
    ~RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Moves on with every change; 0 while the path is not watched (not yet, or the notification
    // cannot be set up), when a cache is never current.
    uint64_t stamp() const;
    // Waits up to timeoutMs until stamp() is neither 0 nor since.
    bool waitForChange(uint64_t since, uint32_t timeoutMs) const;
    const std::string& path() const { return path_; }

    struct Entry;

private:
    std::string path_;
    std::shared_ptr<Entry> entry_;
};
