#include "tools/bench/BenchPrinter.h"

#include "runtime/Exception.h"

#include <chrono>

namespace {
// Requests up to this size arrive in one read.
constexpr DWORD kReadChunk = 65536;
// PIPE01 buffers a reply, so that writing it never waits for the host's read.
constexpr DWORD kOutBuffer = 4096;
constexpr DWORD kCancelWaitMs = 2000;
constexpr DWORD kWriteWaitMs = 5000;
constexpr DWORD kAcceptWaitMs = 2000;
}  // namespace

struct BenchPrinter::Instance {
    UniqueFileHandle handle;
    UniqueHandle event;
    OVERLAPPED overlapped{};
    bool pending = false;
    bool connectedAtOnce = false;
    std::vector<uint8_t> buffer;
};

BenchPrinter::BenchPrinter(const std::string& devicePath) : devicePath_(devicePath) {}

BenchPrinter::~BenchPrinter() { stop(); }

std::unique_ptr<BenchPrinter::Instance> BenchPrinter::listen(const std::string& name, bool printerWrites) {
    std::unique_ptr<Instance> instance(new Instance);
    instance->event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!instance->event) TOLVEX_THROW_WIN32("BenchPrinter CreateEventA", GetLastError());
    // PIPE01 is duplex only so that a read notices the host closing it.
    const DWORD access = (printerWrites ? PIPE_ACCESS_DUPLEX : PIPE_ACCESS_INBOUND) | FILE_FLAG_OVERLAPPED;
    instance->handle.reset(CreateNamedPipeA(name.c_str(), access,
                                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                            PIPE_UNLIMITED_INSTANCES, printerWrites ? kOutBuffer : 0,
                                            printerWrites ? 0 : kReadChunk, 0, nullptr));
    if (!instance->handle) TOLVEX_THROW_WIN32("BenchPrinter CreateNamedPipeA " + name, GetLastError());
    instance->buffer.resize(printerWrites ? 16 : kReadChunk);
    instance->overlapped.hEvent = instance->event.get();
    if (ConnectNamedPipe(instance->handle.get(), &instance->overlapped)) {
        instance->connectedAtOnce = true;
        return instance;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        instance->pending = true;
    } else if (error == ERROR_PIPE_CONNECTED) {
        instance->connectedAtOnce = true;
    } else {
        TOLVEX_THROW_WIN32("BenchPrinter ConnectNamedPipe " + name, error);
    }
    return instance;
}

bool BenchPrinter::startRead(Instance& instance) {
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event.get();
    // The system resets the event when the read starts and signals it when the read completes,
    // also at once. A read that fails at once never signals it.
    if (ReadFile(instance.handle.get(), instance.buffer.data(), static_cast<DWORD>(instance.buffer.size()), nullptr,
                 &instance.overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        instance.pending = true;
        return true;
    }
    return false;
}

void BenchPrinter::retire(std::unique_ptr<Instance>& instance) {
    if (!instance) return;
    if (instance->pending) {
        CancelIoEx(instance->handle.get(), nullptr);
        if (WaitForSingleObject(instance->event.get(), kCancelWaitMs) != WAIT_OBJECT_0) {
            // The system may still write into the record: keeping the memory is the lesser harm.
            instance->handle.reset();
            instance.release();
            return;
        }
    }
    DisconnectNamedPipe(instance->handle.get());
    instance.reset();
}

void BenchPrinter::start() {
    if (requestsThread_.joinable()) return;
    stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    outEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stop_ || !outEvent_) TOLVEX_THROW_WIN32("BenchPrinter CreateEventA", GetLastError());
    // Both exist before start() returns: the host may open them at once.
    std::unique_ptr<Instance> replies = listen(devicePath_ + "\\PIPE01", true);
    std::unique_ptr<Instance> requests = listen(devicePath_ + "\\PIPE00", false);
    repliesThread_ = std::thread([this](std::unique_ptr<Instance> first) { serve(true, std::move(first)); },
                                 std::move(replies));
    requestsThread_ = std::thread([this](std::unique_ptr<Instance> first) { serve(false, std::move(first)); },
                                  std::move(requests));
}

void BenchPrinter::stop() {
    if (!requestsThread_.joinable()) return;
    {
        std::lock_guard<std::mutex> out(outLock_);
        stopping_ = true;
    }
    outChanged_.notify_all();
    SetEvent(stop_.get());
    requestsThread_.join();
    repliesThread_.join();
}

void BenchPrinter::setSilent(bool silent) {
    std::lock_guard<std::mutex> engine(engineLock_);
    engine_.setSilent(silent);
}

bool BenchPrinter::sendAlert() {
    {
        std::lock_guard<std::mutex> engine(engineLock_);
        if (!engine_.emitAlert(GetTickCount64())) return false;
    }
    {
        std::lock_guard<std::mutex> out(outLock_);
        if (out_ == nullptr) return false;
    }
    writeDue();
    return true;
}

bool BenchPrinter::waitForAccepted(uint64_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> out(outLock_);
    return outChanged_.wait_for(out, std::chrono::milliseconds(timeoutMs), [&] { return accepted_ >= count; });
}

void BenchPrinter::publish(HANDLE pipe01) {
    {
        std::lock_guard<std::mutex> out(outLock_);
        out_ = pipe01;
        if (pipe01 != nullptr) ++outGeneration_;
    }
    outChanged_.notify_all();
}

void BenchPrinter::writeDue() {
    std::lock_guard<std::mutex> engine(engineLock_);
    NpaPrinterWrite write;
    while (engine_.takeDue(GetTickCount64(), write)) {
        std::unique_lock<std::mutex> out(outLock_);
        // The host reopens the pipes for every use: a reply may find the old PIPE01 connection
        // not yet noticed as closed (the write fails) or the new one not yet accepted. It goes to
        // the connection accepted next, within a bound.
        uint64_t failed = 0;  // the connection a write failed on (generation), 0 for none
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (out_ == nullptr || outGeneration_ == failed) {
                ++delayed_;
                outChanged_.wait_for(out, std::chrono::milliseconds(kAcceptWaitMs),
                                     [&] { return (out_ != nullptr && outGeneration_ != failed) || stopping_; });
                if (out_ == nullptr || outGeneration_ == failed) break;
            }
            OVERLAPPED overlapped{};
            overlapped.hEvent = outEvent_.get();
            if (WriteFile(out_, write.bytes.data(), static_cast<DWORD>(write.bytes.size()), nullptr, &overlapped)) break;
            if (GetLastError() != ERROR_IO_PENDING) {
                failed = outGeneration_;
                continue;
            }
            if (WaitForSingleObject(outEvent_.get(), kWriteWaitMs) != WAIT_OBJECT_0) {
                CancelIoEx(out_, &overlapped);
                WaitForSingleObject(outEvent_.get(), kCancelWaitMs);
            }
            break;
        }
    }
}

void BenchPrinter::serve(bool printerWrites, std::unique_ptr<Instance> listening) {
    const std::string name = devicePath_ + (printerWrites ? "\\PIPE01" : "\\PIPE00");
    std::unique_ptr<Instance> connected;
    auto hostGone = [&] {
        if (printerWrites) publish(nullptr);
        retire(connected);
    };
    for (;;) {
        enum Source { Stop, Listening, Connected };
        HANDLE waits[3];
        Source sources[3];
        DWORD count = 0;
        waits[count] = stop_.get();
        sources[count++] = Stop;
        if (listening && listening->pending) {
            waits[count] = listening->event.get();
            sources[count++] = Listening;
        }
        if (connected && connected->pending) {
            waits[count] = connected->event.get();
            sources[count++] = Connected;
        }
        Source source = Listening;
        if (!(listening && listening->connectedAtOnce)) {
            const DWORD r = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
            if (r >= WAIT_OBJECT_0 + count) break;
            source = sources[r - WAIT_OBJECT_0];
        }
        if (source == Stop) break;
        if (source == Listening) {
            DWORD ignored = 0;
            const bool ok = listening->connectedAtOnce ||
                            GetOverlappedResult(listening->handle.get(), &listening->overlapped, &ignored, FALSE);
            listening->pending = false;
            listening->connectedAtOnce = false;
            if (ok) {
                // A new connection before the old one's close reached us: the newer one wins.
                if (connected) hostGone();
                connected = std::move(listening);
            } else {
                retire(listening);
            }
            try {
                listening = listen(name, printerWrites);
            } catch (const Exception&) {
                break;
            }
            {
                std::lock_guard<std::mutex> out(outLock_);
                ++accepted_;
            }
            outChanged_.notify_all();
            if (connected && !connected->pending) {
                if (!startRead(*connected)) {
                    hostGone();
                } else if (printerWrites) {
                    publish(connected->handle.get());
                }
            }
            continue;
        }
        DWORD n = 0;
        connected->pending = false;
        if (!GetOverlappedResult(connected->handle.get(), &connected->overlapped, &n, FALSE)) {
            hostGone();
            continue;
        }
        if (!printerWrites && n > 0) {
            {
                std::lock_guard<std::mutex> engine(engineLock_);
                requests_ += engine_.feed(connected->buffer.data(), n, GetTickCount64()).size();
            }
            writeDue();
        }
        if (!startRead(*connected)) hostGone();
    }
    if (printerWrites) publish(nullptr);
    retire(connected);
    retire(listening);
}
