#pragma once
// Cuts whole protocol packets out of the bytes read from a printer. Managers belong to the module
// that made them and are never deleted through this interface, which therefore has no destructor
// slot: the destructor is protected and non-virtual, and implementations are final.
//
// Binary interface: the service calls plug-in packet managers (ours and other makers') through
// exactly these two virtual operations in this order; do not add virtual members.
#include "export/common/Data.h"

#include <cstdint>

class PacketManager {
public:
    // Appends the first whole packet of in's remaining bytes to out and sets consumed to the input
    // bytes it used; 0, or a Windows error code when no packet can be cut now. in is not consumed.
    virtual uint32_t Unwrap(const Data& in, Data& out, int32_t& consumed) = 0;  // slot 0
    // Discards the assembled packet state held in buffer.
    virtual uint32_t Reset(Data& buffer) = 0;                                   // slot 1

protected:
    PacketManager() = default;
    PacketManager(const PacketManager&) = default;
    PacketManager& operator=(const PacketManager&) = default;
    ~PacketManager() = default;
};

// For bytes no interpreter claims: everything that is there is one packet.
class NullPacketManager final : public PacketManager {
public:
    // out becomes a copy of in (its remaining bytes, status and count); consumed = in.Size(); 0.
    // 87 if in holds more bytes than consumed can count.
    uint32_t Unwrap(const Data& in, Data& out, int32_t& consumed) override;
    // Nothing to discard; 1.
    uint32_t Reset(Data& buffer) override;
};
