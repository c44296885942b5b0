#pragma once
// The frame of every message on the service pipe and on callback pipes: a 4-byte big-endian
// payload length followed by the payload, written as one block.
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>

namespace IpcMessageFrame {

constexpr std::size_t kHeaderSize = 4;

// Largest payload either side accepts. The biggest legitimate request is an NPA exchange: a
// packet of at most 65,538 bytes in five parameters, about 65.6 KB. The biggest reply carries a
// byte array of the size the client asked for, which a client may set generously; 1 MiB leaves
// that room sixteen-fold while bounding what one connection can make the service hold.
constexpr uint32_t kMaxPayloadLength = 1024u * 1024u;

// Largest reply byte array an exchange can return and still fit one frame: the cap less the
// echoed id, the return code, the byte array's header and the returned-length parameter.
constexpr uint32_t kMaxExchangeReplySize = kMaxPayloadLength - 2 - 14 - 10 - 14;

// Codes (Windows error numbers).
constexpr int32_t kOk = 0;
// The declared payload length is above kMaxPayloadLength.
constexpr int32_t kTooLong = 4336;     // ERROR_MESSAGE_EXCEEDS_MAX_SIZE
// Bytes arrived beyond the declared payload length.
constexpr int32_t kOverrun = 24;       // ERROR_BAD_LENGTH
// The stream ended before the header or the declared payload was complete.
constexpr int32_t kIncomplete = 38;    // ERROR_HANDLE_EOF

// Puts header and payload into frame (replacing its bytes, status and count); kTooLong and frame
// left unchanged when the payload exceeds the cap, since no receiver would take it.
int32_t encode(const Data& payload, Data& frame);

// The payload length stored big-endian in the 4 bytes at p.
uint32_t readLength(const uint8_t* p);

}  // namespace IpcMessageFrame
