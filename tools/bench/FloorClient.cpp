#include "tools/bench/FloorClient.h"

namespace {
constexpr DWORD kReadSize = 4096;
}

FloorClient::FloorClient() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

int32_t FloorClient::open(const std::string& devicePath) {
    if (!event_) return static_cast<int32_t>(GetLastError());
    read_.reset(CreateFileA((devicePath + "\\PIPE01").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!read_) return static_cast<int32_t>(GetLastError());
    write_.reset(CreateFileA((devicePath + "\\PIPE00").c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr));
    if (!write_) return static_cast<int32_t>(GetLastError());
    return 0;
}

int32_t FloorClient::roundTrip(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply, DWORD timeoutMs) {
    DWORD written = 0;
    if (!WriteFile(write_.get(), request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) {
        return static_cast<int32_t>(GetLastError());
    }
    const ULONGLONG start = GetTickCount64();
    uint8_t buffer[kReadSize];
    for (;;) {
        // A5, a 16-bit length of what follows the length field.
        if (pending_.size() >= 3) {
            const size_t total = 3u + ((static_cast<size_t>(pending_[1]) << 8) | pending_[2]);
            if (pending_[0] != 0xA5) return 1629;
            if (pending_.size() >= total) {
                reply.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
                return 0;
            }
        }
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= timeoutMs) return ERROR_TIMEOUT;
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        ResetEvent(event_.get());
        DWORD n = 0;
        if (!ReadFile(read_.get(), buffer, kReadSize, &n, &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return static_cast<int32_t>(error);
            if (WaitForSingleObject(event_.get(), static_cast<DWORD>(timeoutMs - spent)) != WAIT_OBJECT_0) {
                CancelIo(read_.get());
                GetOverlappedResult(read_.get(), &overlapped, &n, TRUE);
                return ERROR_TIMEOUT;
            }
        }
        if (!GetOverlappedResult(read_.get(), &overlapped, &n, FALSE)) return static_cast<int32_t>(GetLastError());
        pending_.insert(pending_.end(), buffer, buffer + n);
    }
}
