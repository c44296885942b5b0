#pragma once
// The service's port factory: finds the USB printer behind the transport string's PORTNAME
// (system interfaces, then simulated printers) and builds its BcxServiceUsbPort with a winspool
// probe of its own. Any thread.
#include "core/sessions/PortFactory.h"
#include "core/usb/port/InterpreterLookup.h"

class UsbPortFactory : public PortFactory {
public:
    // lookup is not owned and outlives every port made.
    explicit UsbPortFactory(InterpreterLookup& lookup);
    std::unique_ptr<Port> createPort(std::string& transportString) override;

private:
    InterpreterLookup& lookup_;
};
