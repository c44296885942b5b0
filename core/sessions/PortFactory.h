#pragma once
// Builds the port of a new printer session: completes the transport string (found device's
// details) and makes the port. The service builds USB ports; tests build ports of their own.
#include "core/usb/port/Port.h"

#include <memory>
#include <string>

class PortFactory {
public:
    virtual ~PortFactory();
    // Null when no printer is behind the transport string's PORTNAME.
    virtual std::unique_ptr<Port> createPort(std::string& transportString) = 0;
};
