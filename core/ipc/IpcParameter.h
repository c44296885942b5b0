#pragma once
// The typed parameter of a pipe message: direction byte, type byte, 8-byte big-endian length and
// the value. The constants here are shared by the service, its handlers and every client.
#include <cstddef>
#include <cstdint>

namespace IpcParameter {

// Direction byte.
constexpr uint8_t kDirectionIn = 1;      // argument sent by the caller
constexpr uint8_t kDirectionOut = 2;     // value returned to the caller
constexpr uint8_t kDirectionReturn = 4;  // the function's return code

// Type byte. The format defines further fixed-size types (2, 3, 4, 5, 6, 7, 8); this system
// neither sends nor accepts them.
constexpr uint8_t kTypeLong = 1;       // 32-bit integer, length always 4
constexpr uint8_t kTypeString = 9;     // characters and one terminating zero, counted in the length
constexpr uint8_t kTypeByteArray = 10; // raw bytes

// Direction, type and length bytes before every value.
constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kLongValueSize = 4;
// A whole long or return-code parameter.
constexpr std::size_t kLongParameterSize = kHeaderSize + kLongValueSize;

// Codes a reader returns (Windows error numbers).
constexpr int32_t kOk = 0;
// A parameter whose direction is not the one asked for.
constexpr int32_t kWrongDirection = 87;      // ERROR_INVALID_PARAMETER
// A parameter of another type than the one asked for.
constexpr int32_t kWrongType = 1629;         // ERROR_DATATYPE_MISMATCH
// The bytes disagree with a declared length: the message ends inside a parameter, a length runs
// past the end of the message, or a long does not declare 4 bytes.
constexpr int32_t kBadLength = 24;           // ERROR_BAD_LENGTH
// A string value that does not end with its zero, or holds a zero before its end.
constexpr int32_t kBadString = 13;           // ERROR_INVALID_DATA
// A string longer than the reader was allowed to accept.
constexpr int32_t kStringTooLong = 122;      // ERROR_INSUFFICIENT_BUFFER

}  // namespace IpcParameter
