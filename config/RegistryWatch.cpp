#include "config/RegistryWatch.h"

#include "runtime/Monitor.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace {

// Two notifications per path, one for the wake-up: what WaitForMultipleObjects takes.
constexpr size_t kMaxPaths = (MAXIMUM_WAIT_OBJECTS - 1) / 2;
// While a path cannot be watched, how often the thread tries again.
constexpr DWORD kRetryMs = 1000;
// Notifications, and the look at a key's state that tells a deleted one.
constexpr REGSAM kAccess = KEY_NOTIFY | KEY_QUERY_VALUE;

std::string normalised(std::string path) {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string parentOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

struct RegistryWatch::Entry {
    explicit Entry(const std::string& p) : path(p) {}
    const std::string path;
    // Owned by the watcher's thread.
    UniqueRegKey keys[2];
    UniqueHandle events[2];
    bool armed = false;
    // Written under the watcher's monitor; read without it.
    std::atomic<uint64_t> generation{0};
};

namespace {

class Watcher : public Runnable {
public:
    static Watcher& instance() {
        // Lives as long as the process: its thread waits for notifications until then.
        static Watcher* watcher = new Watcher();
        return *watcher;
    }

    std::shared_ptr<RegistryWatch::Entry> add(const std::string& path) {
        std::shared_ptr<RegistryWatch::Entry> entry;
        {
            std::lock_guard<Monitor> guard(monitor_);
            const std::string key = upper(path);
            entry = entries_[key].lock();
            if (entry) return entry;
            entry = std::make_shared<RegistryWatch::Entry>(path);
            entries_[key] = entry;
        }
        SetEvent(wake_.get());
        return entry;
    }

    void removeUnused() { SetEvent(wake_.get()); }


    bool waitForChange(const RegistryWatch::Entry& entry, uint64_t since, uint32_t timeoutMs) {
        std::lock_guard<Monitor> guard(monitor_);
        return monitor_.waitUntil(timeoutMs, [&] { return entry.generation != 0 && entry.generation != since; });
    }

    uint32_t run() override {
        std::vector<std::shared_ptr<RegistryWatch::Entry>> watched;
        for (;;) {
            // Which paths are watched now: those still wanted, as many as fit in one wait.
            watched.clear();
            {
                std::lock_guard<Monitor> guard(monitor_);
                for (auto it = entries_.begin(); it != entries_.end();) {
                    std::shared_ptr<RegistryWatch::Entry> entry = it->second.lock();
                    if (!entry) {
                        it = entries_.erase(it);
                        continue;
                    }
                    if (watched.size() < kMaxPaths) watched.push_back(entry);
                    ++it;
                }
            }
            bool retry = false;
            std::vector<HANDLE> handles = {wake_.get()};
            std::vector<RegistryWatch::Entry*> owners = {nullptr};
            for (auto& entry : watched) {
                if (!entry->armed) arm(*entry);
                if (!entry->armed) {
                    retry = true;
                    continue;
                }
                for (auto& event : entry->events) {
                    if (!event) continue;
                    handles.push_back(event.get());
                    owners.push_back(entry.get());
                }
            }
            // Entries of paths no longer wanted close their keys with the last reference: here.
            const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                                   retry ? kRetryMs : INFINITE);
            if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) arm(*owners[r - WAIT_OBJECT_0]);
        }
    }

private:
    Watcher() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), thread_(*this) { thread_.start(); }

    // The deepest key of path that exists now ("" is HKEY_LOCAL_MACHINE itself), opened for
    // notifications into key; false when not even that opens.
    static bool openDeepest(const std::string& path, std::string& existing, HKEY& key) {
        existing = path;
        for (;;) {
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, existing.c_str(), 0, kAccess, &key) == ERROR_SUCCESS) return true;
            if (existing.empty()) return false;
            existing = parentOf(existing);
        }
    }

    // Both notifications on what exists now: the deepest existing key with its subtree, and its
    // parent for the key's own deletion (the registry does not report a watched key's deletion to
    // the key's own notification). False when they cannot be set up.
    bool armOnce(RegistryWatch::Entry& entry, std::string& existing) {
        for (int i = 0; i < 2; ++i) {
            // Closing a key with a notification pending may signal its event: cleared after.
            entry.keys[i].reset();
            if (!entry.events[i]) entry.events[i].reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
            if (!entry.events[i]) return false;
            ResetEvent(entry.events[i].get());
        }
        HKEY key = nullptr;
        if (!openDeepest(entry.path, existing, key)) return false;
        entry.keys[0].reset(key);
        if (RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                    entry.events[0].get(), TRUE) != ERROR_SUCCESS) {
            return false;
        }
        if (existing.empty()) return true;
        HKEY parent = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentOf(existing).c_str(), 0, kAccess, &parent) != ERROR_SUCCESS) {
            return false;
        }
        entry.keys[1].reset(parent);
        return RegNotifyChangeKeyValue(parent, FALSE, REG_NOTIFY_CHANGE_NAME, entry.events[1].get(), TRUE) ==
               ERROR_SUCCESS;
    }

    // Whether the keys armed are still the live ones: a deleted key (also one made again since
    // under the same name) reports nothing any more.
    static bool live(const RegistryWatch::Entry& entry) {
        for (const auto& key : entry.keys) {
            if (key && RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                return false;
            }
        }
        return true;
    }

    // Arms the notifications again, then moves the stamp on (to 0 when they cannot be armed), so
    // that a change after a cache's read under the new stamp fires again. A key deleted, or one
    // created, while the notifications were being set up would go unreported: afterwards the keys
    // are looked up again and the armed ones checked, and any difference means arming once more.
    void arm(RegistryWatch::Entry& entry) {
        constexpr int kAttempts = 8;
        bool ok = false;
        for (int attempt = 0; attempt < kAttempts && !ok; ++attempt) {
            std::string existing;
            if (!armOnce(entry, existing)) break;
            std::string now;
            HKEY check = nullptr;
            if (!openDeepest(entry.path, now, check)) break;
            RegCloseKey(check);
            ok = now == existing && live(entry);
        }
        {
            std::lock_guard<Monitor> guard(monitor_);
            entry.armed = ok;
            // Never back to a number a cache may hold: 0 while unwatched, then one past the last.
            if (ok) {
                last_ = std::max(last_, entry.generation.load()) + 1;
                entry.generation = last_;
            } else {
                entry.generation = 0;
            }
        }
        monitor_.notifyAll();
    }

    Monitor monitor_;
    uint64_t last_ = 0;
    std::map<std::string, std::weak_ptr<RegistryWatch::Entry>> entries_;
    UniqueHandle wake_;
    Thread thread_;
};

}  // namespace

RegistryWatch::RegistryWatch(const std::string& path)
    : path_(normalised(path)), entry_(Watcher::instance().add(path_)) {}

RegistryWatch::~RegistryWatch() {
    entry_.reset();
    Watcher::instance().removeUnused();
}

uint64_t RegistryWatch::stamp() const { return entry_->generation.load(); }

bool RegistryWatch::waitForChange(uint64_t since, uint32_t timeoutMs) const {
    return Watcher::instance().waitForChange(*entry_, since, timeoutMs);
}
