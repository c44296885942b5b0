#include "export/common/PacketManager.h"

#include <cstdint>

uint32_t NullPacketManager::Unwrap(const Data& in, Data& out, int32_t& consumed) {
    const uint32_t size = in.Size();
    if (size > static_cast<uint32_t>(INT32_MAX)) {
        consumed = 0;
        return 87;  // ERROR_INVALID_PARAMETER
    }
    out = in;
    consumed = static_cast<int32_t>(size);
    return 0;
}

uint32_t NullPacketManager::Reset(Data&) {
    return 1;
}
