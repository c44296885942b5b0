#pragma once
// Appends a function id and typed parameters to a message payload (a Data the caller owns and
// keeps alive while the writer is used). Throws Exception (code 87) for a string holding a zero
// byte, which no reader of ours would accept, and 8 for a value too big for a Data buffer.
#include "core/ipc/IpcParameter.h"
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>
#include <string>

class IpcParameterWriter {
public:
    explicit IpcParameterWriter(Data& message);

    // The 2-byte big-endian function id that begins every payload.
    IpcParameterWriter& functionId(uint16_t id);
    // A type-1 parameter.
    IpcParameterWriter& longValue(uint8_t direction, uint32_t value);
    // A type-9 parameter: the characters and one terminating zero, which the length counts.
    IpcParameterWriter& string(uint8_t direction, const std::string& text);
    // A type-10 parameter; p may be null when n is 0.
    IpcParameterWriter& byteArray(uint8_t direction, const uint8_t* p, std::size_t n);
    // A type-10 parameter of exactly size bytes: the n bytes at p (n <= size), then zeros.
    IpcParameterWriter& paddedByteArray(uint8_t direction, const uint8_t* p, std::size_t n, std::size_t size);
    // The return-code parameter (direction 4, type 1) that begins every completed reply.
    IpcParameterWriter& returnCode(int32_t code);

private:
    void header(uint8_t direction, uint8_t type, uint64_t length);
    void checkRoom(std::size_t n) const;
    void append(const uint8_t* p, std::size_t n);

    Data& message_;
};
