#include "core/usb/port/Port.h"

#include "export/common/PropertyText.h"

Port::Port(const std::string& transportString) : readingFlag_(0) {
    FindElement(transportString, "PORTNAME", portName_);
    FindElement(transportString, "PRINTOBJECTNAME", printObjectName_);
}

Port::~Port() = default;

uint32_t Port::connect() { return 1; }
uint32_t Port::disconnect() { return 1; }
void Port::startReading() {}
void Port::stopReading() {}
uint32_t Port::notSupported() { return 50; }

uint32_t Port::exchangeBidi(Data& request) {
    request.SetStatus(50);
    return 50;
}

void Port::setNpaWrapping(bool) {}
void Port::onWindowsSuspend() {}
void Port::onWindowsResume() {}
void Port::onWindowsUndock() {}
void Port::onDeviceAttach() {}
void Port::onDeviceDetach() {}
void Port::killReadThread() {}
void Port::setTransportString(const std::string&) {}
uint32_t Port::read() { return 1; }
bool Port::readerRunning() const { return false; }
bool Port::waitReaderEnded(uint32_t) { return true; }

void Port::setReadingRestoredHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> guard(restoredLock_);
    restored_ = std::move(handler);
}

void Port::notifyReadingRestored() {
    // Called under the lock so that a handler being removed is not running afterwards; handlers
    // only hand the work on.
    std::lock_guard<std::mutex> guard(restoredLock_);
    if (restored_) restored_();
}
