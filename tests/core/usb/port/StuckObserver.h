#pragma once
// An observer that holds the read thread inside the first delivery it gets until released
// (bounded), so that a read loop does not end when asked; it notes whether the thread went on
// afterwards (a terminated thread would not). Detach it before it goes.
#include "core/usb/port/Observer.h"
#include "runtime/Event.h"

#include <atomic>

struct StuckObserver : Observer {
    explicit StuckObserver(DWORD holdFor = 10000) : holdMs(holdFor) {}
    void onData(Data*) override {
        if (!armed.exchange(false)) return;
        entered.set();
        release.wait(holdMs);
        wentOn = true;
    }
    const DWORD holdMs;
    std::atomic<bool> armed{true};
    Event entered{true, false};
    Event release{true, false};
    std::atomic<bool> wentOn{false};
};
