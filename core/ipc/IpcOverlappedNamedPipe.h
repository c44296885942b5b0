#pragma once
// One named-pipe handle used for overlapped I/O, either end: server instances of a pipe we
// create, or the client end of a pipe someone else serves. Moves whole frames (4-byte big-endian
// length and payload). Every wait is bounded by the caller's time-out and ends at once when
// another thread calls requestStop(); a stopped or timed-out operation is cancelled and its
// completion collected before returning, so no I/O outlives the call. One thread uses the
// object; requestStop() may come from any thread. Creating and opening raise Win32Exception;
// I/O returns Windows error codes.
#include "core/ipc/IpcMessageFrame.h"
#include "export/common/Data.h"
#include "runtime/Event.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class IpcOverlappedNamedPipe {
public:
    static constexpr DWORD kBufferSize = 4096;
    static constexpr DWORD kDefaultTimeout = 10000;
    static constexpr const char* kLocalPrefix = "\\\\.\\pipe\\";
    // What open() asks for: all that the service pipe grants an ordinary user. Not
    // GENERIC_WRITE, which that descriptor refuses (so a client never changes the handle's state
    // with SetNamedPipeHandleState, which needs FILE_WRITE_ATTRIBUTES).
    static constexpr DWORD kClientAccess = GENERIC_READ | FILE_WRITE_DATA;

    // Codes besides the system's: a stop request ended the operation, a bound ran out.
    static constexpr int32_t kStopped = ERROR_OPERATION_ABORTED;  // 995
    static constexpr int32_t kTimedOut = ERROR_TIMEOUT;          // 1460
    // The peer closed before sending a single byte.
    static constexpr int32_t kNoMessage = ERROR_BROKEN_PIPE;     // 109

    IpcOverlappedNamedPipe();
    // Takes ownership of a handle opened for overlapped I/O (an accepted connection).
    explicit IpcOverlappedNamedPipe(HANDLE handle);
    virtual ~IpcOverlappedNamedPipe();
    IpcOverlappedNamedPipe(const IpcOverlappedNamedPipe&) = delete;
    IpcOverlappedNamedPipe& operator=(const IpcOverlappedNamedPipe&) = delete;

    // The modes every server instance is created with; firstInstance adds
    // FILE_FLAG_FIRST_PIPE_INSTANCE.
    static DWORD serverOpenMode(bool firstInstance);
    static DWORD serverPipeMode();

    // A new server instance of "\\.\pipe\" + name (any handle held is closed first). security
    // null gives the system's default descriptor. Raises Win32Exception "IpcOverlappedNamedPipe".
    void create(const std::string& name, bool firstInstance, SECURITY_ATTRIBUTES* security);
    // Waits up to timeoutMs for a client on the current instance: 0 once connected (the handle
    // stays here; take it with release()), kStopped, kTimedOut, or the system's code.
    // ERROR_NO_DATA means a client came and went; the instance is ready to wait again.
    int32_t connect(DWORD timeoutMs);
    // connect() in two steps, for a thread that waits on several instances at once:
    // beginConnect() gives 0 when a client is connected already, ERROR_IO_PENDING while waiting
    // (ioEvent() is signalled when that ends, and finishConnect() then gives 0 or the code), or
    // the code (ERROR_NO_DATA as in connect()). cancelConnect() ends a pending wait and collects
    // it before returning; a pending wait must be finished or cancelled before close().
    int32_t beginConnect();
    int32_t finishConnect();
    void cancelConnect();
    HANDLE ioEvent() const { return io_.handle(); }

    // Opens the client end of path, retrying while every instance is busy until timeoutMs has
    // passed; identification level only, so the server cannot act as us. Returns 0 or the code
    // (kTimedOut when busy throughout, kStopped when stopped).
    int32_t open(const std::string& path, DWORD timeoutMs);

    // Reads one frame within timeoutMs and puts its payload in payload (replaced): 0, or
    // IpcMessageFrame::kTooLong / kOverrun / kIncomplete, kNoMessage, kStopped, kTimedOut or the
    // system's code. Storage grows only with bytes that arrived.
    int32_t read(Data& payload, DWORD timeoutMs,
                 uint32_t maxPayload = IpcMessageFrame::kMaxPayloadLength);
    // Writes payload as one frame within timeoutMs: 0 or a code.
    int32_t write(const Data& payload, DWORD timeoutMs);
    // Waits up to timeoutMs for the peer to close its end (it has then read all we wrote):
    // 0 when it did, otherwise a code. Bytes the peer still sends are discarded.
    int32_t waitForPeerClose(DWORD timeoutMs);

    // Any thread: ends the current wait and makes every later operation return kStopped.
    void requestStop();
    bool stopRequested() const { return stopping_.load(); }
    // A pause that a stop ends early: true when requestStop() came (before or within timeoutMs).
    bool waitForStop(DWORD timeoutMs) { return stop_.wait(timeoutMs); }
    // Owner thread: closes the handle (nothing pending by then).
    void close();
    // Takes ownership of handle (closing any held before).
    void adopt(HANDLE handle);
    // Gives up the handle without closing it.
    HANDLE release();

    HANDLE handle() const { return handle_.get(); }
    bool isOpen() const { return handle_.valid(); }
    // The name given to create(), or the path given to open().
    const std::string& name() const { return name_; }

private:
    // Completes an operation started with ov_: waits for it if pending, cancels and collects it
    // when stopped or out of time.
    int32_t finish(bool pending, DWORD timeoutMs, DWORD& transferred, bool& more);
    // One read into into (chunk_ or larger_) of at most size bytes.
    int32_t readChunk(uint8_t* into, DWORD size, DWORD timeoutMs, DWORD& transferred, bool& more);
    void beginIo();

    UniqueFileHandle handle_;
    std::string name_;
    // Manual reset: the system clears it when an operation starts, and a stop must stay visible
    // to every wait that follows, not only the first.
    Event io_;
    Event stop_;
    std::atomic<bool> stopping_;
    // An operation whose cancellation was not confirmed; its buffers must stay untouched.
    bool ioOutstanding_;
    OVERLAPPED ov_;
    uint8_t chunk_[kBufferSize];
    // For the rest of a long frame: grows only up to the bytes of the frame already received.
    std::vector<uint8_t> larger_;
    Data frame_;
};
