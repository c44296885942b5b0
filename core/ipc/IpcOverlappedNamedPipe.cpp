#include "core/ipc/IpcOverlappedNamedPipe.h"

#include "core/ipc/IpcFrameAssembler.h"
#include "runtime/Exception.h"

#include <algorithm>

namespace {
// What is left of a bound that started at start; INFINITE stays INFINITE.
DWORD remainingOf(DWORD timeoutMs, ULONGLONG start) {
    if (timeoutMs == INFINITE) return INFINITE;
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
}

// After CancelIo the system completes the operation promptly; this only guards against a
// driver that never does.
constexpr DWORD kCancelCollectMs = 5000;
// WaitNamedPipeA slice between attempts while all instances are busy.
constexpr DWORD kBusyRetryMs = 100;
// The largest single read of a long frame.
constexpr uint64_t kLargestRead = 64 * 1024;
}  // namespace

IpcOverlappedNamedPipe::IpcOverlappedNamedPipe()
    : io_(true, false), stop_(true, false), stopping_(false), ioOutstanding_(false), ov_(), chunk_() {}

IpcOverlappedNamedPipe::IpcOverlappedNamedPipe(HANDLE handle) : IpcOverlappedNamedPipe() {
    handle_.reset(handle);
}

IpcOverlappedNamedPipe::~IpcOverlappedNamedPipe() { close(); }

DWORD IpcOverlappedNamedPipe::serverOpenMode(bool firstInstance) {
    return PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (firstInstance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
}

DWORD IpcOverlappedNamedPipe::serverPipeMode() {
    return PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
}

void IpcOverlappedNamedPipe::create(const std::string& name, bool firstInstance, SECURITY_ATTRIBUTES* security) {
    close();
    const std::string path = kLocalPrefix + name;
    HANDLE h = CreateNamedPipeA(path.c_str(), serverOpenMode(firstInstance), serverPipeMode(),
                                PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, kDefaultTimeout, security);
    if (h == INVALID_HANDLE_VALUE) TOLVEX_THROW_WIN32("IpcOverlappedNamedPipe", GetLastError());
    handle_.reset(h);
    name_ = name;
    ioOutstanding_ = false;
}

void IpcOverlappedNamedPipe::beginIo() {
    ov_ = OVERLAPPED();
    ov_.hEvent = io_.handle();
}

int32_t IpcOverlappedNamedPipe::finish(bool pending, DWORD timeoutMs, DWORD& transferred, bool& more) {
    transferred = 0;
    more = false;
    if (pending) {
        const HANDLE waits[2] = {io_.handle(), stop_.handle()};
        const DWORD r = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
        if (r != WAIT_OBJECT_0) {
            const int32_t code = r == WAIT_OBJECT_0 + 1 ? kStopped
                                 : r == WAIT_TIMEOUT    ? kTimedOut
                                                        : static_cast<int32_t>(GetLastError());
            // The buffers belong to the system until the cancelled operation is collected.
            CancelIo(handle_.get());
            DWORD ignored = 0;
            if (WaitForSingleObject(io_.handle(), kCancelCollectMs) == WAIT_OBJECT_0)
                GetOverlappedResult(handle_.get(), &ov_, &ignored, FALSE);
            else
                ioOutstanding_ = true;
            return code;
        }
    }
    if (GetOverlappedResult(handle_.get(), &ov_, &transferred, FALSE)) return 0;
    const DWORD code = GetLastError();
    if (code == ERROR_MORE_DATA) {
        more = true;
        return 0;
    }
    return static_cast<int32_t>(code);
}

int32_t IpcOverlappedNamedPipe::beginConnect() {
    if (stopping_.load()) return kStopped;
    if (!handle_ || ioOutstanding_) return ERROR_INVALID_HANDLE;
    beginIo();
    if (ConnectNamedPipe(handle_.get(), &ov_)) return 0;
    const DWORD code = GetLastError();
    if (code == ERROR_PIPE_CONNECTED) return 0;
    if (code == ERROR_NO_DATA) {
        // The client closed before we looked; the instance must be disconnected to be reused.
        DisconnectNamedPipe(handle_.get());
        return ERROR_NO_DATA;
    }
    return static_cast<int32_t>(code);
}

int32_t IpcOverlappedNamedPipe::finishConnect() {
    DWORD ignored = 0;
    if (GetOverlappedResult(handle_.get(), &ov_, &ignored, FALSE)) return 0;
    const DWORD code = GetLastError();
    if (code == ERROR_NO_DATA) DisconnectNamedPipe(handle_.get());
    return static_cast<int32_t>(code);
}

void IpcOverlappedNamedPipe::cancelConnect() {
    if (!handle_) return;
    // The OVERLAPPED belongs to the system until the cancelled wait is collected.
    CancelIoEx(handle_.get(), &ov_);
    DWORD ignored = 0;
    if (WaitForSingleObject(io_.handle(), kCancelCollectMs) == WAIT_OBJECT_0) {
        GetOverlappedResult(handle_.get(), &ov_, &ignored, FALSE);
    } else {
        ioOutstanding_ = true;
    }
}

int32_t IpcOverlappedNamedPipe::connect(DWORD timeoutMs) {
    const int32_t begun = beginConnect();
    if (begun != ERROR_IO_PENDING) return begun;
    DWORD ignored = 0;
    bool more = false;
    return finish(true, timeoutMs, ignored, more);
}

int32_t IpcOverlappedNamedPipe::open(const std::string& path, DWORD timeoutMs) {
    close();
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (stopping_.load()) return kStopped;
        HANDLE h = CreateFileA(path.c_str(), kClientAccess, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_.reset(h);
            name_ = path;
            ioOutstanding_ = false;
            return 0;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_PIPE_BUSY) return static_cast<int32_t>(code);
        const DWORD left = remainingOf(timeoutMs, start);
        if (left == 0) return kTimedOut;
        // Returns early when an instance frees up; a failure (the pipe vanished) shows at the
        // next attempt.
        WaitNamedPipeA(path.c_str(), left < kBusyRetryMs ? left : kBusyRetryMs);
    }
}

int32_t IpcOverlappedNamedPipe::readChunk(uint8_t* into, DWORD size, DWORD timeoutMs, DWORD& transferred, bool& more) {
    if (stopping_.load()) return kStopped;
    if (!handle_ || ioOutstanding_) return ERROR_INVALID_HANDLE;
    beginIo();
    if (ReadFile(handle_.get(), into, size, nullptr, &ov_)) return finish(false, timeoutMs, transferred, more);
    const DWORD code = GetLastError();
    // A read that fails at once does not signal the event on every system: waiting would hang.
    if (code == ERROR_MORE_DATA) return finish(false, timeoutMs, transferred, more);
    if (code != ERROR_IO_PENDING) return static_cast<int32_t>(code);
    return finish(true, timeoutMs, transferred, more);
}

int32_t IpcOverlappedNamedPipe::read(Data& payload, DWORD timeoutMs, uint32_t maxPayload) {
    IpcFrameAssembler assembler(maxPayload);
    const ULONGLONG start = GetTickCount64();
    bool anyByte = false;
    uint64_t received = 0;
    for (;;) {
        // Every read is a round trip to the Wine server: the rest of a long frame (a reply
        // padded to a large buffer) is read in larger pieces, each at most as large as what has
        // arrived so far, so that a declared length alone never decides an allocation.
        uint8_t* into = chunk_;
        DWORD size = kBufferSize;
        if (assembler.hasLength()) {
            const uint64_t rest = IpcMessageFrame::kHeaderSize + uint64_t{assembler.declaredLength()} - received;
            const uint64_t piece = std::min<uint64_t>({rest, received, kLargestRead});
            if (piece > kBufferSize) {
                if (larger_.size() < piece) larger_.resize(static_cast<size_t>(piece));
                into = larger_.data();
                size = static_cast<DWORD>(piece);
            }
        }
        DWORD n = 0;
        bool more = false;
        const int32_t rc = readChunk(into, size, remainingOf(timeoutMs, start), n, more);
        if (rc == ERROR_BROKEN_PIPE || rc == ERROR_PIPE_NOT_CONNECTED || rc == ERROR_HANDLE_EOF)
            return anyByte ? assembler.endOfStream() : kNoMessage;
        if (rc != 0) return rc;
        anyByte = anyByte || n > 0;
        received += n;
        const IpcFrameAssembler::State state = assembler.append(into, n);
        if (state == IpcFrameAssembler::State::Failed) return assembler.error();
        if (state == IpcFrameAssembler::State::Complete) {
            // In message mode the rest of a longer message is still queued: the frame lied about
            // its length.
            if (more) return IpcMessageFrame::kOverrun;
            payload = assembler.takePayload();
            return 0;
        }
    }
}

int32_t IpcOverlappedNamedPipe::write(const Data& payload, DWORD timeoutMs) {
    if (stopping_.load()) return kStopped;
    if (!handle_ || ioOutstanding_) return ERROR_INVALID_HANDLE;
    const int32_t encoded = IpcMessageFrame::encode(payload, frame_);
    if (encoded != 0) return encoded;
    beginIo();
    DWORD n = 0;
    bool more = false;
    int32_t rc = 0;
    if (WriteFile(handle_.get(), frame_.Bytes(), frame_.Size(), nullptr, &ov_)) {
        rc = finish(false, timeoutMs, n, more);
    } else {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return static_cast<int32_t>(code);
        rc = finish(true, timeoutMs, n, more);
    }
    if (rc == 0 && n != frame_.Size()) rc = ERROR_WRITE_FAULT;
    return rc;
}

int32_t IpcOverlappedNamedPipe::waitForPeerClose(DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD n = 0;
        bool more = false;
        const int32_t rc = readChunk(chunk_, kBufferSize, remainingOf(timeoutMs, start), n, more);
        if (rc == ERROR_BROKEN_PIPE || rc == ERROR_PIPE_NOT_CONNECTED || rc == ERROR_HANDLE_EOF) return 0;
        if (rc != 0) return rc;
    }
}

void IpcOverlappedNamedPipe::requestStop() {
    stopping_.store(true);
    stop_.set();
}

void IpcOverlappedNamedPipe::close() {
    // Closing the handle ends an operation whose cancellation was never confirmed; only then may
    // its buffers go.
    handle_.reset();
    ioOutstanding_ = false;
}

void IpcOverlappedNamedPipe::adopt(HANDLE handle) {
    close();
    handle_.reset(handle);
}

HANDLE IpcOverlappedNamedPipe::release() { return handle_.release(); }
