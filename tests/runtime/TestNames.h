#pragma once
// Object names unique to one test process, so parallel test runs never share a mutex or key.
#include "runtime/Win32.h"

#include <atomic>
#include <string>

inline std::string uniqueTestName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "tolvex-test-" + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}
