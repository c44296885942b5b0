#include "interpreters/npa/NpaPacketManager.h"

#include "interpreters/npa/NpaCommand.h"

uint32_t NpaPacketManager::Unwrap(const Data& in, Data& out, int32_t& consumed) {
    return ReassembleNpaPacket(in, out, consumed);
}

uint32_t NpaPacketManager::Reset(Data& buffer) {
    buffer.Clear();
    return 0;
}
