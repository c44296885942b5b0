#pragma once
// Cuts whole NPA messages out of the bytes read from a printer, joining continued packets (see
// ReassembleNpaPacket: 0, 234 for more bytes needed, 1629 for bytes that are not NPA).
#include "export/common/PacketManager.h"

class NpaPacketManager final : public PacketManager {
public:
    uint32_t Unwrap(const Data& in, Data& out, int32_t& consumed) override;
    // Empties buffer (bytes, status and count); 0.
    uint32_t Reset(Data& buffer) override;
};
