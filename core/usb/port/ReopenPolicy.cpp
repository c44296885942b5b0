#include "core/usb/port/ReopenPolicy.h"

bool ReopenPolicy::isDeviceGone(uint32_t code) {
    switch (code) {
        case 2:     // ERROR_FILE_NOT_FOUND
        case 109:   // ERROR_BROKEN_PIPE
        case 233:   // ERROR_PIPE_NOT_CONNECTED
        case 1167:  // ERROR_DEVICE_NOT_CONNECTED
            return true;
        default:
            return false;
    }
}

bool ReopenPolicy::fail(uint32_t code) {
    if (!isDeviceGone(code)) {
        // A transient fault (time-out, cancelled read) says nothing about the device being gone.
        consecutive_ = 0;
        return false;
    }
    ++consecutive_;
    return consecutive_ >= kThreshold;
}
