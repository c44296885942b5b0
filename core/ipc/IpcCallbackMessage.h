#pragma once
// The "onCallback" message the service sends to a client's callback pipe (id 1001: a
// direction-1 string with the callback property text, a direction-1 byte array with the alert
// packet) and the reply the client answers with (the echoed id and a return-code parameter).
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace IpcCallbackMessage {

constexpr uint16_t kFunctionId = 1001;

// What sendCallback reports when the client's reply is not an answer to the callback.
constexpr int32_t kNoValidReply = 1359;  // ERROR_INTERNAL_ERROR
// A callback payload that is not id 1001.
constexpr int32_t kNotACallback = 1;     // ERROR_INVALID_FUNCTION

// The payload of a callback; throws Exception (87) for a text holding a zero byte.
Data build(const std::string& text, const uint8_t* packet, std::size_t n);

// Reads a callback payload: 0 with text and packet filled, kNotACallback for another id, an
// IpcParameter code for a malformed parameter or bytes after the packet. Outputs change only on
// success.
int32_t parse(const Data& payload, std::string& text, std::vector<uint8_t>& packet);

// The payload a client answers a callback with.
Data buildReply(int32_t code);

// The code a delivered callback yields from the client's reply payload: kNoValidReply unless
// the reply holds at least a whole id and return-code parameter (16 bytes) and echoes id 1001;
// then the return code when the first parameter is a well-formed return code, and connectResult
// when the first parameter is of another direction or type. A return-code parameter whose
// length is not 4 gives kNoValidReply.
int32_t interpretReply(const Data& reply, int32_t connectResult = 0);

}  // namespace IpcCallbackMessage
