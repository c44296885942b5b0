#pragma once
// The service's port factory: finds the USB printer behind the transport string's PORTNAME
// (system interfaces, then simulated printers) and builds its BcxServiceUsbPort with a winspool
// probe of its own. A port is built unless no printer is behind the name: when the list of
// printer interfaces cannot be built at all, the session still comes into being without the
// device's elements (its port then cannot open the printer and answers as for one that is away).
// Any thread.
#include "core/sessions/PortFactory.h"
#include "core/usb/port/InterpreterLookup.h"

#include <cstdint>
#include <functional>
#include <string>

class UsbPortFactory : public PortFactory {
public:
    // Completes a transport string: 0, 1 (no such port) or 6 (no list); findUsbPrinter by default.
    using Finder = std::function<uint32_t(std::string&)>;

    // lookup is not owned and outlives every port made.
    explicit UsbPortFactory(InterpreterLookup& lookup, Finder finder = Finder());
    std::unique_ptr<Port> createPort(std::string& transportString) override;

private:
    InterpreterLookup& lookup_;
    Finder finder_;
};
