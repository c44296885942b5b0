#pragma once
// The two bulk pipes of one USB printer, below the transport string's DEVICEPATH: "\PIPE00"
// (host to printer) written synchronously and "\PIPE01" (printer to host) read overlapped,
// 512 bytes at most per read, abortable by close() from another thread. Owned by the printer's
// port: readOverlapped runs on its read thread, write on client threads under the port's write
// lock, close on the thread that stops reading. Log lines go to component "BidiComponent".
// Transfer outcomes travel in the caller's Data (status, count); nothing here raises.
#include "export/common/Data.h"
#include "runtime/Event.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class BidiUsbEndpoints {
public:
    static constexpr uint32_t kReadSize = 512;
    // How long a cancelled read may take to be given back by the system before it is abandoned.
    static constexpr DWORD kCancelWaitMilliseconds = 5000;

    explicit BidiUsbEndpoints(const std::string& transportString);
    virtual ~BidiUsbEndpoints();
    BidiUsbEndpoints(const BidiUsbEndpoints&) = delete;
    BidiUsbEndpoints& operator=(const BidiUsbEndpoints&) = delete;

    // Closes the handles of an earlier open, then opens the read pipe and the write pipe.
    // 0, or the system error of the pipe that failed (2 when DEVICEPATH is missing or not a
    // device path); a failed write pipe leaves the read pipe open.
    uint32_t open();
    // Writes request's remaining bytes in one call; status 0 or the system error (1 without a
    // write pipe), count = bytes written. The bytes are not consumed.
    void write(Data& request);
    // Appends what one read brings (up to 512 bytes) to into and returns into's status: unchanged
    // after a read with bytes or an empty one, the system error after a failed read, 0 (no bytes)
    // when close() aborted the read.
    uint32_t readOverlapped(Data& into);
    // Wakes a pending readOverlapped; the pipes stay open. Always 0.
    uint32_t close();

    // The pipes' handles (still owned), INVALID_HANDLE_VALUE when not open.
    HANDLE readHandle() const { return readHandle_.get(); }
    HANDLE writeHandle() const { return writeHandle_.get(); }

private:
    // The OVERLAPPED of a read and the buffer it fills, kept together until the system gives
    // both back.
    struct ReadBlock {
        OVERLAPPED overlapped;
        uint8_t buffer[kReadSize];
    };

    // Waits (bounded) for the read in flight to be given back after a cancellation and appends
    // any bytes it still brought to into (if given). False when the read is still held by the
    // system; its block is then abandoned rather than freed.
    bool collectCancelledRead(Data* into);
    // Cancels and collects a read left in flight by an earlier call.
    void abandonReadInFlight();
    void log(const std::string& text) const;

    std::string transportString_;
    Event readEvent_;
    Event closeEvent_;
    std::atomic<bool> closed_{false};  // closeEvent_ was set since the last read began
    UniqueFileHandle readHandle_;
    UniqueFileHandle writeHandle_;
    std::unique_ptr<ReadBlock> read_;
    bool readInFlight_;
};
