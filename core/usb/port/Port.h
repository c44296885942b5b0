#pragma once
// The base of the service's printer ports: a Subject that delivers the packets read from the
// printer, with the port's name, the read loop's run flag and the count of connects not yet
// disconnected. The base itself talks to no device: connect and disconnect answer 1,
// exchangeBidi 50, the hooks do nothing. Portable.
#include "core/usb/port/Subject.h"
#include "export/common/Data.h"
#include "runtime/ReferenceCount.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class Port : public Subject {
public:
    // Reads PORTNAME and PRINTOBJECTNAME from the transport string.
    explicit Port(const std::string& transportString);
    ~Port() override;

    virtual uint32_t connect();
    virtual uint32_t disconnect();
    virtual void startReading();
    virtual void stopReading();
    virtual uint32_t notSupported();
    // Writes request's remaining bytes; the outcome is also left in its status and count.
    virtual uint32_t exchangeBidi(Data& request);
    virtual void setNpaWrapping(bool on);
    virtual void onWindowsSuspend();
    virtual void onWindowsResume();
    virtual void onWindowsUndock();
    virtual void onDeviceAttach();
    virtual void onDeviceDetach();
    virtual void killReadThread();
    virtual void setTransportString(const std::string& transportString);
    // The read loop; the read thread's body.
    virtual uint32_t read();
    // True while a read loop of this port still runs, also one that was left to end on its own
    // because it did not end when asked; such a port must not be destroyed before it has ended.
    virtual bool readerRunning() const;
    // Waits up to milliseconds for that loop to end: true when none runs.
    virtual bool waitReaderEnded(uint32_t milliseconds);

    const std::string& portName() const { return portName_; }
    const std::string& printObjectName() const { return printObjectName_; }
    int32_t openCount() const { return openCount_.count(); }
    bool isReadingFlagSet() const { return readingFlag_.load() != 0; }

    // Called when reading works again after the device came back without a new first connect
    // (attach, resume, a reopen of the pipes): a printer that lost power has forgotten what it
    // was told. Runs on the notifier's or the read thread and must not block; null removes it.
    // Once this returns, an earlier handler is no longer running or called.
    void setReadingRestoredHandler(std::function<void()> handler);

protected:
    void notifyReadingRestored();

    std::string portName_;
    std::string printObjectName_;  // kept for other ports; nothing here uses it
    std::atomic<uint8_t> readingFlag_;
    ReferenceCount openCount_;

private:
    std::mutex restoredLock_;
    std::function<void()> restored_;
};
