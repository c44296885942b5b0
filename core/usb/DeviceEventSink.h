#pragma once
// Where the notifier window reports device and power events: the printer table implements it.
// Every call runs on the notifier window's thread. Portable.
#include "core/usb/port/Port.h"

#include <cstdint>
#include <memory>
#include <string>

class DeviceEventSink {
public:
    virtual ~DeviceEventSink() = default;

    // The port of the session whose DEVICEPATH equals path regardless of letter case, held for
    // as long as the caller keeps the pointer (the session stays alive with it); null when no
    // session has that path. Compare with samePath.
    virtual std::shared_ptr<Port> findByDevicePath(const std::string& path) = 0;
    // onWindowsSuspend / onWindowsResume / onWindowsUndock on the port of every session.
    virtual void suspendAll() = 0;
    virtual void resumeAll() = 0;
    // Non-zero allows the docking change.
    virtual int32_t undockAll() = 0;

    // Device paths name the same interface when they differ only in ASCII letter case.
    static bool samePath(const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (std::string::size_type i = 0; i < a.size(); ++i) {
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return true;
    }

private:
    static char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
};
