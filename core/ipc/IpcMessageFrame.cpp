#include "core/ipc/IpcMessageFrame.h"

namespace IpcMessageFrame {

int32_t encode(const Data& payload, Data& frame) {
    const uint32_t n = payload.Size();
    if (n > kMaxPayloadLength) {
        return kTooLong;
    }
    const uint8_t header[kHeaderSize] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                         static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    Data built(header, kHeaderSize);
    built.Append(payload);
    frame = built;
    return kOk;
}

uint32_t readLength(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

}  // namespace IpcMessageFrame
