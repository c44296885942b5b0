#pragma once
// The bidirectional channel to one USB printer. Connects are counted: the first starts the read
// loop (on a parked thread of the request path's pool), the last disconnect stops it, and every
// connect puts the printer into NPA mode. A loop that does not end within the stop's bound is
// never terminated: it is left to end on its own, the port refusing writes and starting no
// other loop meanwhile, and its owner keeps the port alive while readerRunning(). The read
// thread frames what it reads and hands the packets to the observers. Writes are refused
// with 50 for printers whose model does not speak NPA or while the device is detached, and with
// 170 while the spooler prints on the port. Client threads call connect, disconnect and
// exchangeBidi (under their session's lock); the notifier thread calls the hooks. The lookup and
// the spooler probe are not owned and outlive the port. When reads keep failing because the
// device has gone, the read loop reopens the pipes on its back-off schedule and, once they open,
// reports the restart (setReadingRestoredHandler) as attach and resume do.
#include "core/usb/BidiUsbEndpoints.h"
#include "core/usb/port/FramingStep.h"
#include "core/usb/port/InterpreterLookup.h"
#include "core/usb/port/Port.h"
#include "core/usb/port/ReopenPolicy.h"
#include "core/usb/port/ShortPacketQueue.h"
#include "core/usb/port/SpoolerProbe.h"
#include "runtime/CriticalSection.h"
#include "runtime/Event.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"
#include "runtime/ThreadPool.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class BcxServiceUsbPort : public Port, private FramingSink {
public:
    // How long stopReading keeps waking the read thread before it leaves it to end on its own.
    static constexpr DWORD kStopWaitMilliseconds = 3000;
    // startReading's code while a read thread left to end on its own still runs.
    static constexpr uint32_t kReaderStillEnding = ERROR_BUSY;
    static constexpr DWORD kReadyWaitMilliseconds = 1000;
    static constexpr DWORD kSettleMilliseconds = 1000;
    static constexpr DWORD kEmptyReadPauseMilliseconds = 10;

    // No I/O happens here; the endpoints are built from the transport string.
    BcxServiceUsbPort(const std::string& transportString, InterpreterLookup& lookup, SpoolerProbe& spooler);
    // Stops the read thread. One that was left to end on its own is waited for without limit:
    // owners keep a port whose readerRunning() is true until it has ended.
    ~BcxServiceUsbPort() override;

    uint32_t connect() override;
    uint32_t disconnect() override;
    void startReading() override;
    void stopReading() override;
    // 0 when written; 50 (no NPA, detached), 170 (spooler busy) or the write's system error,
    // also left in request's status; its count holds the bytes written.
    uint32_t exchangeBidi(Data& request) override;
    void setNpaWrapping(bool on) override;
    void onWindowsSuspend() override;
    void onWindowsResume() override;
    void onWindowsUndock() override;
    void onDeviceAttach() override;
    void onDeviceDetach() override;
    void killReadThread() override;
    void setTransportString(const std::string& transportString) override;
    uint32_t read() override;
    bool readerRunning() const override;
    bool waitReaderEnded(uint32_t milliseconds) override;

    // Reads the model from 1284DEVICEIDSTRING and decides npaWrapping (see NpaModelCheck).
    void determineNpaWrapFrom1284String();

    bool npaWrapping() const { return npaWrapping_.load(); }
    bool deviceAttached() const { return deviceAttached_.load(); }
    bool isReading() const;
    uint8_t channelByte() const { return channelByte_; }
    // Reopens of the pipes by the read loop (after device-gone failures), worked or not.
    uint64_t reopens() const { return reopens_.load(); }
    const ShortPacketQueue& shortPackets() const { return shortPacketQueue_; }
    Event& shortPacketEvent() { return shortPacketEvent_; }
    Event& readyEvent() { return readyEvent_; }
    // The pause before reading again after a resume or an arrival (the device settles).
    void setSettleDelay(DWORD milliseconds) { settleMilliseconds_ = milliseconds; }
    // How long stopReading waits for the read thread (kStopWaitMilliseconds by default).
    void setStopWait(DWORD milliseconds) { stopWaitMilliseconds_ = milliseconds; }

private:
    void deliverPacket(Data& packet) override;
    void keepShortPacket(const Data& packet) override;
    void log(const std::string& line) override;
    bool logging() const override;
    uint32_t readLoop();
    // startReading's work: 0 when the pipes opened (or reading was under way already), else the
    // open's or the thread's error; reading runs in both cases unless the thread failed.
    uint32_t beginReading();
    // On the read thread, after device-gone failures; reports a reopen that worked.
    void reopenEndpoints(ReopenPolicy& reopen);
    // With readerLock_ held, once the read thread has ended: its thread, runnable and pipes go.
    void releaseReaderLocked();
    // Signals or resets readyEvent_, through the system only when its state changes.
    void setReady(bool ready);
    uint32_t connectLocked();
    uint32_t exchangeLocked(Data& request);

    const uint8_t channelByte_;
    Data storage_;  // read thread only
    InterpreterLookup& lookup_;
    SpoolerProbe& spooler_;

    mutable std::mutex readerLock_;  // the read thread's creation and end
    std::unique_ptr<RunnableMethod<BcxServiceUsbPort>> readRunnable_;
    std::unique_ptr<Thread> readThread_;
    // The read thread did not end when asked and was left to end on its own; it keeps its
    // runnable and the pipes object until it has (the port refuses writes meanwhile).
    std::atomic<bool> abandoned_{false};
    // Whether a read loop should run now: from a first connect, or a resume or arrival with
    // connects outstanding, to the last disconnect, a suspend, a removal or an undock. A loop
    // that ended meanwhile (one given up on, or one that failed) is started again at a connect.
    std::atomic<bool> readingWanted_{false};
    std::atomic<DWORD> stopWaitMilliseconds_{kStopWaitMilliseconds};
    Event stopEvent_;

    // Connects, disconnects, power and device events decide about the read loop one at a time:
    // a suspend cannot land between a connect's look at the loop and its start of one.
    CriticalSection connectLock_;
    CriticalSection writeLock_;
    std::string transportString_;
    std::atomic<bool> npaWrapping_;
    std::atomic<bool> deviceAttached_;
    ShortPacketQueue shortPacketQueue_;
    Event shortPacketEvent_;
    Event readyEvent_;
    std::mutex readyLock_;  // keeps ready_ and readyEvent_ alike
    std::atomic<bool> ready_{false};
    std::string endpointTransport_;
    // Present while reading: the pipes are released when the last user is done, so the device
    // (or another program) is free while the service does not need it. Guarded by writeLock_
    // for writers; the read thread uses it only while it runs.
    std::unique_ptr<BidiUsbEndpoints> endpoint_;
    std::atomic<DWORD> settleMilliseconds_;
    std::atomic<uint64_t> reopens_{0};
};
