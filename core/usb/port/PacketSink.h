#pragma once
// Receives every packet a packet protocol takes from its port (the printer session implements
// it). Called on the port's read thread; the packet is valid for the call only. Portable.
#include "export/common/Data.h"

class PacketSink {
public:
    virtual ~PacketSink();
    virtual void onPacket(const Data& packet) = 0;
};
