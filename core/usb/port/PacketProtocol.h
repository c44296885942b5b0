#pragma once
// The observer a printer session attaches to its port: it writes requests through the port and
// passes every packet the port delivers to the session. This base writes once and never waits.
// The protocol attaches itself on construction and detaches on destruction; neither the session
// nor the port is owned, and both outlive it. Portable.
#include "core/usb/port/Observer.h"
#include "core/usb/port/PacketSink.h"
#include "core/usb/port/Port.h"

#include <cstdint>

class PacketProtocol : public Observer {
public:
    PacketProtocol(PacketSink& session, Port& port);
    // Detaches from the port (waiting for a delivery in progress on another thread).
    ~PacketProtocol() override;

    void onData(Data* packet) override;
    // Writes request through the port; the outcome is left in its status and count.
    virtual void send(Data& request);
    virtual void setTimeout(uint32_t milliseconds);

protected:
    void detachFromPort();

    PacketSink& session_;
    Port& port_;

private:
    bool attached_;
};
