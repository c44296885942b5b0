#include "core/usb/port/BcxServiceUsbPort.h"

#include "core/usb/port/NpaModelCheck.h"
#include "core/usb/port/ReadBackoff.h"
#include "core/usb/port/ReopenPolicy.h"
#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "logging/EventLog.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"

namespace {

constexpr const char* kComponent = "BidiService";
constexpr const char* kReadComponent = "LangMon";
constexpr DWORD kStopPollMilliseconds = 20;
// The loop's code for a read without a read pipe (it was not opened, or a reopen failed).
constexpr uint32_t kNoReadPipe = 1;

void logTo(const char* component, const std::string& text) { LogFacade::getInstance().log(component, text); }

}  // namespace

BcxServiceUsbPort::BcxServiceUsbPort(const std::string& transportString, InterpreterLookup& lookup,
                                     SpoolerProbe& spooler)
    : Port(transportString),
      channelByte_(0),
      lookup_(lookup),
      spooler_(spooler),
      stopEvent_(true, false),
      transportString_(transportString),
      npaWrapping_(true),
      deviceAttached_(true),
      shortPacketEvent_(true, false),
      readyEvent_(true, false),
      endpointTransport_(transportString),
      settleMilliseconds_(kSettleMilliseconds) {}

BcxServiceUsbPort::~BcxServiceUsbPort() {
    stopReading();
    // A loop left to end on its own still uses the pipes, events and buffers below, which go
    // before the thread object would wait for it: the port's owners keep such a port until its
    // loop has ended (LingeringPorts), and this waits as the last guard, closing again so that a
    // read begun after a close ends too.
    if (readThread_ != nullptr && abandoned_) {
        log("BcxServiceUsbPort::~BcxServiceUsbPort() waits for a read thread that is still running");
        while (!readThread_->waitForEnd(kStopPollMilliseconds)) endpoint_->close();
    }
}

void BcxServiceUsbPort::log(const std::string& line) { logTo(kComponent, line); }
bool BcxServiceUsbPort::logging() const { return LogFacade::getInstance().isEnabled(); }

bool BcxServiceUsbPort::isReading() const {
    std::lock_guard<std::mutex> guard(readerLock_);
    return readThread_ != nullptr && readThread_->isRunning();
}

void BcxServiceUsbPort::determineNpaWrapFrom1284String() {
    std::string deviceId;
    FindElement(transportString_, "1284DEVICEIDSTRING", deviceId);
    const NpaModelCheck::Result result = NpaModelCheck::check(deviceId);
    npaWrapping_ = NpaModelCheck::wrapping(result, npaWrapping_.load());
    if (result.outcome != NpaModelCheck::Outcome::Npa) log(NpaModelCheck::logLine(result));
}

namespace {

uint32_t codeOf(const Exception& e) { return e.code() != 0 ? static_cast<uint32_t>(e.code()) : 1359u; }

}  // namespace

uint32_t BcxServiceUsbPort::connect() {
    // Callers give back every connect with a disconnect, also a failed one; nothing may raise.
    try {
        return connectLocked();
    } catch (const Exception& e) {
        log("BcxServiceUsbPort::connect() failed: rc=" + std::to_string(codeOf(e)));
        return codeOf(e);
    }
}

uint32_t BcxServiceUsbPort::connectLocked() {
    CriticalSectionLock guard(connectLock_);
    determineNpaWrapFrom1284String();
    if (!npaWrapping_) return 0;
    if (openCount_.count() == 0) {
        readingWanted_ = true;
        startReading();
        setReady(true);
    } else if (readingWanted_ && !readerRunning()) {
        // The loop ended while users remained: one left to end on its own (a resume or an
        // arrival could not start another meanwhile), or one that failed. Read again.
        log("BcxServiceUsbPort::connect() reading again for the users still connected");
        if (beginReading() == 0) {
            setReady(true);
            notifyReadingRestored();
        }
    }
    openCount_.addReference();

    std::string text;
    PropertyAccessor accessor;
    accessor.SetString(text, PropertyAccessor::Interpreter, "Npa");
    accessor.SetString(text, PropertyAccessor::CommandName, "startNpaMode");
    CommandManager* manager = lookup_.getCommandManager(text);
    Command* command = manager->Create(text);
    uint32_t rc = 0;
    if (command == nullptr || command->Size() == 0) {
        // Without the interpreter there is no NPA mode to enter; writing nothing would look
        // like success to every later exchange.
        rc = 50;
    } else {
        rc = exchangeBidi(*command);
    }
    manager->Destroy(command);
    return rc;
}

uint32_t BcxServiceUsbPort::disconnect() {
    CriticalSectionLock guard(connectLock_);
    if (npaWrapping_ && openCount_.count() > 0) {
        if (openCount_.releaseReference() == 0) {
            readingWanted_ = false;
            stopReading();
        }
    }
    return 0;
}

void BcxServiceUsbPort::startReading() { beginReading(); }

uint32_t BcxServiceUsbPort::beginReading() {
    logTo(kReadComponent, "+BcxServiceUsbPort::startReading()");
    uint32_t rc = 0;
    {
        std::lock_guard<std::mutex> guard(readerLock_);
        if (readThread_ != nullptr && abandoned_ && readThread_->waitForEnd(0)) releaseReaderLocked();
        if (readThread_ != nullptr && abandoned_) {
            // The old loop still uses the pipes object and the storage buffer; a second one
            // cannot start before it has ended.
            log("BcxServiceUsbPort::startReading() the previous read thread has not ended yet");
            rc = kReaderStillEnding;
        } else if (readThread_ == nullptr) {
            {
                // A write may be under way on another thread: swap the pipes under its lock.
                CriticalSectionLock writeGuard(writeLock_);
                endpoint_.reset(new BidiUsbEndpoints(endpointTransport_));
                rc = endpoint_->open();
            }
            stopEvent_.reset();
            readingFlag_ = 1;
            readRunnable_.reset(new RunnableMethod<BcxServiceUsbPort>(*this, &BcxServiceUsbPort::read));
            readThread_.reset(new Thread(*readRunnable_, &ThreadPool::requestPath()));
            try {
                readThread_->start();
            } catch (const Exception& e) {
                log("BcxServiceUsbPort::startReading() failed: rc=" + std::to_string(e.code()));
                readingFlag_ = 0;
                readThread_.reset();
                readRunnable_.reset();
                rc = codeOf(e);
            }
        }
    }
    logTo(kReadComponent, "-BcxServiceUsbPort::startReading()");
    return rc;
}

void BcxServiceUsbPort::releaseReaderLocked() {
    readThread_.reset();
    readRunnable_.reset();
    abandoned_ = false;
    CriticalSectionLock writeGuard(writeLock_);
    endpoint_.reset();
}

void BcxServiceUsbPort::stopReading() {
    log("+BcxServiceUsbPort::stopReading()");
    {
        std::lock_guard<std::mutex> guard(readerLock_);
        if (readThread_ != nullptr && abandoned_) {
            // Already given its time once: it is collected if it has ended, never waited for again.
            if (readThread_->waitForEnd(0)) releaseReaderLocked();
        } else if (readThread_ != nullptr) {
            readingFlag_ = 0;
            stopEvent_.set();
            // The endpoint forgets a close when its next read starts, so a close that lands
            // between the loop's flag check and that read would be lost and the thread would
            // wait for data. Closing again until the thread has gone wakes such a read too.
            const DWORD bound = stopWaitMilliseconds_.load();
            const ULONGLONG start = GetTickCount64();
            bool ended = false;
            for (;;) {
                endpoint_->close();
                ended = readThread_->waitForEnd(kStopPollMilliseconds);
                if (ended || GetTickCount64() - start >= bound) break;
            }
            if (ended) {
                releaseReaderLocked();
            } else {
                // Terminating it could leave the heap or a lock held and hang the whole process.
                // The port refuses writes and cannot read again until the thread has ended; its
                // owner keeps it alive until then (readerRunning()).
                abandoned_ = true;
                log("BcxServiceUsbPort::stopReading() the read thread did not end within " + std::to_string(bound) +
                    " ms: it is left to end on its own");
                EventLog::report(EventLog::PrinterReadStuck, {portName(), std::to_string(bound)});
            }
        }
    }
    log("-BcxServiceUsbPort::stopReading()");
}

bool BcxServiceUsbPort::readerRunning() const {
    std::lock_guard<std::mutex> guard(readerLock_);
    return readThread_ != nullptr && readThread_->isRunning();
}

bool BcxServiceUsbPort::waitReaderEnded(uint32_t milliseconds) {
    std::lock_guard<std::mutex> guard(readerLock_);
    if (readThread_ == nullptr) return true;
    if (!readThread_->waitForEnd(milliseconds)) return false;
    if (abandoned_) releaseReaderLocked();
    return true;
}

uint32_t BcxServiceUsbPort::read() {
    try {
        return readLoop();
    } catch (...) {
        // Nothing may leave a thread body; the port reads again after the next start.
        log("-BcxServiceUsbPort::read() failed");
        EventLog::report(EventLog::PrinterReadFailed, {portName()});
        return 1359;
    }
}

uint32_t BcxServiceUsbPort::readLoop() {
    log("+BcxServiceUsbPort::read()");
    ReadBackoff backoff;
    ReopenPolicy reopen;
    while (readingFlag_.load() == 1) {
        log("BcxServiceUsbPort::read() loop");
        Data buffer;
        const bool pipeOpen = endpoint_->readHandle() != INVALID_HANDLE_VALUE;
        const uint32_t rc = pipeOpen ? endpoint_->readOverlapped(buffer) : kNoReadPipe;
        if (rc != 0) {
            const uint32_t pause = backoff.fail();
            log("BcxServiceUsbPort::read() Sleep for=" + std::to_string(pause));
            if (readingFlag_.load() != 1) break;
            // Without a read pipe nothing can be read until the pipes are opened again, whatever
            // the open failed with.
            const bool reopenNow = reopen.fail(pipeOpen ? rc : ReopenPolicy::kNoPipe);
            stopEvent_.wait(pause);
            if (reopenNow && readingFlag_.load() == 1) reopenEndpoints(reopen);
            continue;
        }
        log("BcxServiceUsbPort::read() loop - endpoint_.readOverlapped(data) success");
        backoff.success();
        reopen.success();
        if (buffer.Size() == 0) {
            // A stop costs no pause: the flag is checked first and the pause ends on the stop.
            if (readingFlag_.load() != 1) break;
            stopEvent_.wait(kEmptyReadPauseMilliseconds);
            continue;
        }
        FramingStep::run(storage_, buffer, channelByte_, lookup_, *this);
    }
    log("-BcxServiceUsbPort::read() ");
    return 0;
}

void BcxServiceUsbPort::reopenEndpoints(ReopenPolicy& reopen) {
    const uint32_t failures = reopen.consecutive();
    uint32_t rc = 0;
    {
        // Writers use the same pipes; they wait for the swap.
        CriticalSectionLock writeGuard(writeLock_);
        rc = endpoint_->open();
    }
    log("BcxServiceUsbPort::read() reopened the pipes after " + std::to_string(failures) +
        " device-gone failures: rc=" + std::to_string(rc));
    ++reopens_;
    if (rc != 0) {
        reopen.fail(rc);
        return;
    }
    reopen.success();
    // Frames cut short by the outage would otherwise prefix the first packet of the new stream.
    storage_.Clear();
    notifyReadingRestored();
}

void BcxServiceUsbPort::deliverPacket(Data& packet) { notifyData(&packet); }

void BcxServiceUsbPort::keepShortPacket(const Data& packet) {
    shortPacketQueue_.push(packet);
    shortPacketEvent_.set();
}

uint32_t BcxServiceUsbPort::exchangeBidi(Data& request) {
    try {
        return exchangeLocked(request);
    } catch (const Exception& e) {
        request.SetStatus(static_cast<int32_t>(codeOf(e)));
        return codeOf(e);
    }
}

uint32_t BcxServiceUsbPort::exchangeLocked(Data& request) {
    if (!npaWrapping_ || !deviceAttached_) {
        request.SetStatus(50);
        return 50;
    }
    // The flag mirrors the event: asking it costs no system call.
    if (!ready_.load()) readyEvent_.wait(kReadyWaitMilliseconds);
    CriticalSectionLock guard(writeLock_);
    if (spooler_.isPrinting(portName_)) {
        request.SetStatus(170);
        return 170;
    }
    if (endpoint_ == nullptr || abandoned_) {
        // Not reading (suspended, stopped, or a read thread still ending): the pipes are closed.
        request.SetStatus(1);
        request.SetCount(0);
    } else {
        endpoint_->write(request);
    }
    if (logging()) {
        log("BcxServiceUsbPort::exchangeBidi() = bytesWritten=" + std::to_string(request.Count()) +
            " data=" + FramingStep::hex(request));
    }
    // A failed write is a failure of this call too, not only of the request's status.
    return static_cast<uint32_t>(request.Status());
}

void BcxServiceUsbPort::setNpaWrapping(bool on) { npaWrapping_ = on; }

void BcxServiceUsbPort::setReady(bool ready) {
    std::lock_guard<std::mutex> guard(readyLock_);
    if (ready_.exchange(ready) == ready) return;
    if (ready) {
        readyEvent_.set();
    } else {
        readyEvent_.reset();
    }
}

void BcxServiceUsbPort::setTransportString(const std::string& transportString) {
    CriticalSectionLock guard(connectLock_);
    transportString_ = transportString;
    // The pipes of the next start follow the new description.
    std::lock_guard<std::mutex> reader(readerLock_);
    endpointTransport_ = transportString;
}

void BcxServiceUsbPort::onWindowsSuspend() {
    log("+BcxServiceUsbPort::onWindowsSuspend()");
    {
        CriticalSectionLock guard(connectLock_);
        readingWanted_ = false;
        stopReading();
        setReady(false);
    }
    log("-BcxServiceUsbPort::onWindowsSuspend()");
}

void BcxServiceUsbPort::onWindowsResume() {
    log("+BcxServiceUsbPort::onWindowsResume()");
    if (settleMilliseconds_ > 0) Sleep(settleMilliseconds_);
    {
        CriticalSectionLock guard(connectLock_);
        const bool inUse = openCount_.count() > 0;
        readingWanted_ = inUse;
        const uint32_t rc = inUse ? beginReading() : 1;
        setReady(true);
        // The printer may have been off while the computer slept. When the pipes did not open,
        // the read loop reopens them and reports the restart itself.
        if (inUse && rc == 0) notifyReadingRestored();
    }
    log("-BcxServiceUsbPort::onWindowsResume()");
}

void BcxServiceUsbPort::onWindowsUndock() {
    log("+BcxServiceUsbPort::onWindowsUndock()");
    CriticalSectionLock guard(connectLock_);
    killReadThread();
    setReady(false);
    log("-BcxServiceUsbPort::onWindowsUndock()");
}

void BcxServiceUsbPort::onDeviceAttach() {
    log("+BcxServiceUsbPort::onDeviceAttach()");
    deviceAttached_ = true;
    // Installing a printer makes its queue around its arrival.
    spooler_.lookAgain();
    if (openCount_.count() > 0 && settleMilliseconds_ > 0) Sleep(settleMilliseconds_);
    CriticalSectionLock guard(connectLock_);
    if (openCount_.count() > 0) {
        readingWanted_ = true;
        if (beginReading() == 0) {
            // The pipes are open again: writes need not wait for a later first connect. The
            // session's alert registrations go out through such writes right away.
            setReady(true);
            notifyReadingRestored();
        }
    }
    log("-BcxServiceUsbPort::onDeviceAttach()");
}

void BcxServiceUsbPort::onDeviceDetach() {
    log("+BcxServiceUsbPort::onDeviceDetach()");
    deviceAttached_ = false;
    {
        CriticalSectionLock guard(connectLock_);
        readingWanted_ = false;
        stopReading();
        setReady(false);
    }
    log("-BcxServiceUsbPort::onDeviceDetach()");
}

void BcxServiceUsbPort::killReadThread() {
    log("+BcxServiceUsbPort::killReadThread()");
    {
        CriticalSectionLock guard(connectLock_);
        while (openCount_.releaseReference() > 0) {
        }
        readingWanted_ = false;
        stopReading();
    }
    log("-BcxServiceUsbPort::killReadThread()");
}
