#pragma once
// Handle leaks seen from inside the process. Under Wine GetProcessHandleCount reports 0, but the
// handle table hands out its lowest free slot first, so every handle still held pushes fresh
// handles 4 higher. The highest of a batch of fresh handles counts the held ones even when freed
// slots lie below them.
#include "runtime/Win32.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

// The value of one fresh handle (enough where nothing leaves holes in the table).
inline uintptr_t freshHandleValue() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const uintptr_t value = reinterpret_cast<uintptr_t>(probe);
    if (probe != nullptr) CloseHandle(probe);
    return value;
}

// The highest value among `count` handles held at once.
inline uintptr_t highestFreshHandle(int count = 256) {
    std::vector<HANDLE> handles;
    handles.reserve(count);
    uintptr_t highest = 0;
    for (int i = 0; i < count; ++i) {
        HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (h == nullptr) break;
        handles.push_back(h);
        highest = std::max(highest, reinterpret_cast<uintptr_t>(h));
    }
    for (HANDLE h : handles) CloseHandle(h);
    return highest;
}

// Handles another thread is still about to close (a worker finishing a step, the system's own
// completion work) are not leaks: measures with `probe` until the value is at most `limit` or
// `timeoutMs` has passed, and returns the last value measured.
template <typename Probe>
uintptr_t handleValueSettledTo(uintptr_t limit, Probe probe, int timeoutMs = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uintptr_t value = probe();
    while (value > limit && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        value = probe();
    }
    return value;
}
