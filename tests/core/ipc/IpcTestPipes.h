#pragma once
// Helpers for tests that drive the pipe transport: unique pipe names, raw writes of arbitrary
// bytes on an overlapped handle, a fresh handle's value (leak check), and a fake mapper.
#include "core/ipc/FunctionMapper.h"
#include "export/common/Data.h"
#include "runtime/Event.h"
#include "runtime/Win32.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <string>
#include <vector>

inline std::string uniquePipeName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "tolvex-test-" + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

// Writes the bytes on an overlapped handle within timeoutMs; true when all were written.
inline bool rawWrite(HANDLE h, const std::vector<uint8_t>& bytes, DWORD timeoutMs = 5000) {
    Event done(true, false);
    OVERLAPPED ov = {};
    ov.hEvent = done.handle();
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(done.handle(), timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(h);
            GetOverlappedResult(h, &ov, &n, TRUE);
            return false;
        }
    }
    return GetOverlappedResult(h, &ov, &n, FALSE) && n == bytes.size();
}

inline uintptr_t freshHandleValue() {
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(h);
    return reinterpret_cast<uintptr_t>(h);
}

// Echoes the request as the reply. A request whose first byte is 0xEE waits in dispatch until
// release() (at most 20 s), as a request waiting on a printer would.
class FakeMapper : public FunctionMapper {
public:
    int32_t dispatch(const CallerIdentity&, Data& request, Data& reply) override {
        ++calls;
        {
            std::lock_guard<std::mutex> guard(lock_);
            seen_.emplace_back(request.Bytes(), request.Bytes() + request.Size());
        }
        if (request.Size() > 0 && request.Bytes()[0] == 0xEE) {
            std::unique_lock<std::mutex> guard(lock_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait_for(guard, std::chrono::seconds(20), [this] { return released_; });
            --waiting_;
        }
        reply.Append(request);
        return 0;
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    // True once n requests wait in dispatch at the same time, within ms.
    bool waitForWaiting(int n, int ms) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return waiting_ >= n; });
    }
    std::atomic<int> calls{0};
    // The payloads dispatched so far, in order.
    std::vector<std::vector<uint8_t>> seen() {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }

private:
    std::vector<std::vector<uint8_t>> seen_;
    std::mutex lock_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool released_ = false;
};
