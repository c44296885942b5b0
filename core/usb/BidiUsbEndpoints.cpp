#include "core/usb/BidiUsbEndpoints.h"

#include "core/usb/UsbDeviceFile.h"
#include "export/common/PropertyText.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kComponent = "BidiComponent";
constexpr uint32_t kNoWritePipe = 1;
constexpr uint32_t kInternalError = 1359;

std::string handleText(HANDLE handle) {
    if (handle == nullptr) return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

}  // namespace

BidiUsbEndpoints::BidiUsbEndpoints(const std::string& transportString)
    : transportString_(transportString),
      readEvent_(true, false),
      closeEvent_(true, false),
      read_(new ReadBlock()),
      readInFlight_(false) {}

BidiUsbEndpoints::~BidiUsbEndpoints() { abandonReadInFlight(); }

void BidiUsbEndpoints::log(const std::string& text) const { LogFacade::getInstance().log(kComponent, text); }

uint32_t BidiUsbEndpoints::open() {
    log("+BidiUsbEndpoints::open()");
    uint32_t rc = 0;
    try {
        std::string devicePath;
        FindElement(transportString_, "DEVICEPATH", devicePath);
        // Handles of an earlier open would otherwise stay open until the port is destroyed, and
        // the printer (or the simulator) would keep serving a connection nobody reads.
        abandonReadInFlight();
        readHandle_.reset();
        writeHandle_.reset();

        readHandle_ = openUsbDevice(devicePath + "\\PIPE01", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    FILE_FLAG_OVERLAPPED);
        if (!readHandle_) {
            rc = GetLastError();
            log("-BidiUsbEndpoints::open():rc= " + std::to_string(rc));
            return rc;
        }
        writeHandle_ = openUsbDevice(devicePath + "\\PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE, 0);
        if (!writeHandle_) {
            rc = GetLastError();
            log("-BidiUsbEndpoints::open():rc= " + std::to_string(rc));
            return rc;
        }
    } catch (const Exception& e) {
        rc = e.code() != 0 ? static_cast<uint32_t>(e.code()) : kInternalError;
    }
    log("-BidiUsbEndpoints::open(): rc=" + std::to_string(rc));
    return rc;
}

void BidiUsbEndpoints::write(Data& request) {
    log("+BidiUsbEndpoints::write");
    if (!writeHandle_) {
        request.SetStatus(kNoWritePipe);
        return;
    }
    static const uint8_t kNothing = 0;
    const uint8_t* bytes = request.Size() > 0 ? request.Bytes() : &kNothing;
    DWORD written = 0;
    const BOOL ok = WriteFile(writeHandle_.get(), bytes, request.Size(), &written, nullptr);
    request.SetStatus(ok ? 0 : static_cast<int32_t>(GetLastError()));
    request.SetCount(static_cast<int32_t>(written));
    if (LogFacade::getInstance().isEnabled()) log("-BidiUsbEndpoints::write(): errorCode=" + std::to_string(request.Status()));
}

uint32_t BidiUsbEndpoints::readOverlapped(Data& into) {
    try {
        if (readInFlight_ && !collectCancelledRead(&into)) {
            // The system still holds the buffer of an earlier read; a new read cannot start yet.
            into.SetStatus(WAIT_TIMEOUT);
            return static_cast<uint32_t>(into.Status());
        }
        // The read resets its event itself; the close event only needs it after a close.
        if (closed_.exchange(false)) closeEvent_.reset();
    } catch (const Exception& e) {
        into.SetStatus(e.code() != 0 ? e.code() : static_cast<int32_t>(kInternalError));
        return static_cast<uint32_t>(into.Status());
    }

    log("BidiUsbEndpoints::readOverlapped() - before readfile");
    std::memset(&read_->overlapped, 0, sizeof read_->overlapped);
    read_->overlapped.hEvent = readEvent_.handle();
    DWORD n = 0;
    if (!ReadFile(readHandle_.get(), read_->buffer, kReadSize, &n, &read_->overlapped)) {
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) {
            // Nothing is in flight and the event will never be signalled (the device is gone or
            // the other end closed): the read has failed now.
            into.SetStatus(static_cast<int32_t>(err));
            log("BidiUsbEndpoints::readOverlapped() ReadFile failed with error: rc=" + std::to_string(err));
            return err;
        }
    }
    // A read that completed at once has signalled readEvent too.
    readInFlight_ = true;

    log("BidiUsbEndpoints::readOverlapped() - Before WaitForMultipleObjects");
    const HANDLE events[2] = {readEvent_.handle(), closeEvent_.handle()};
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    const DWORD waitError = GetLastError();
    log("BidiUsbEndpoints::readOverlapped() - After WaitForMultipleObjects");

    if (result == WAIT_OBJECT_0) {
        const BOOL ok = GetOverlappedResult(readHandle_.get(), &read_->overlapped, &n, FALSE);
        const DWORD err = GetLastError();
        readInFlight_ = false;
        if (ok && n > 0) {
            into.Append(read_->buffer, n);
        } else if (ok) {
            log("BidiUsbEndpoints::readOverlapped() GetOverlappedResult reads 0 bytes: rc=" + std::to_string(err));
        } else {
            into.SetStatus(static_cast<int32_t>(err));
            log("BidiUsbEndpoints::readOverlapped() GetOverlappedResult failed with error: rc=" + std::to_string(err) +
                " and Handle= " + handleText(readHandle_.get()));
        }
    } else if (result == WAIT_OBJECT_0 + 1) {
        DWORD g = 0;
        if (!CancelIo(readHandle_.get())) {
            g = GetLastError();
            into.SetStatus(static_cast<int32_t>(g));
        }
        log("BidiUsbEndpoints::readOverlapped()Closing connection so cancel pending IO: rc= " + std::to_string(g));
        collectCancelledRead(&into);
    } else {
        into.SetStatus(static_cast<int32_t>(result == WAIT_FAILED ? waitError : result));
        CancelIo(readHandle_.get());
        collectCancelledRead(&into);
    }
    return static_cast<uint32_t>(into.Status());
}

uint32_t BidiUsbEndpoints::close() {
    log("+BidiUsbEndpoints::close()");
    try {
        closed_.store(true);
        closeEvent_.set();
    } catch (const Exception&) {
        // SetEvent on our own event does not fail while the object lives.
    }
    log("-BidiUsbEndpoints::close()");
    return 0;
}

bool BidiUsbEndpoints::collectCancelledRead(Data* into) {
    if (WaitForSingleObject(readEvent_.handle(), kCancelWaitMilliseconds) != WAIT_OBJECT_0) return false;
    DWORD n = 0;
    // Bytes that arrived just before the cancellation are the stream's next bytes: keep them.
    if (GetOverlappedResult(readHandle_.get(), &read_->overlapped, &n, FALSE) && n > 0 && into != nullptr) {
        into->Append(read_->buffer, n);
    }
    readInFlight_ = false;
    return true;
}

void BidiUsbEndpoints::abandonReadInFlight() {
    if (!readInFlight_) return;
    CancelIoEx(readHandle_.get(), &read_->overlapped);
    if (!collectCancelledRead(nullptr)) {
        // The system may still write into the block: it is left to it, never freed or reused.
        ReadBlock* abandoned = read_.release();
        (void)abandoned;
        read_.reset(new ReadBlock());
        readInFlight_ = false;
    }
}
