#pragma once
// Reads the function id and typed parameters of a received payload, strictly in order. Every
// declared length is checked against the bytes left before anything is copied or allocated, so
// no input can make it read past the payload or allocate more than the payload holds. The bytes
// are borrowed: the payload must outlive the reader. One thread at a time.
//
// Each read returns an IpcParameter code (0 on success). A failed read leaves the position and
// the output unchanged.
#include "core/ipc/IpcParameter.h"
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

class IpcParameterReader {
public:
    // Reads the n bytes at p.
    IpcParameterReader(const uint8_t* p, std::size_t n);
    // Reads the bytes of payload from its cursor on.
    explicit IpcParameterReader(const Data& payload);
    // A temporary would be gone before the first read.
    explicit IpcParameterReader(const Data&& payload) = delete;

    // The 2-byte big-endian function id; kBadLength when fewer than 2 bytes are left.
    int32_t functionId(uint16_t& id);
    // A type-1 parameter of the given direction; its length must be 4.
    int32_t longValue(uint32_t& value, uint8_t direction = IpcParameter::kDirectionIn);
    // A type-9 parameter: the last value byte must be its only zero. maxChars bounds the
    // characters (zero not counted); more gives kStringTooLong.
    int32_t string(std::string& text, uint8_t direction = IpcParameter::kDirectionIn,
                   std::size_t maxChars = std::numeric_limits<std::size_t>::max());
    // A type-10 parameter.
    int32_t byteArray(std::vector<uint8_t>& bytes, uint8_t direction = IpcParameter::kDirectionIn);
    // The return-code parameter (direction 4, type 1).
    int32_t returnCode(int32_t& code);

    // Bytes not yet read.
    std::size_t remaining() const { return size_ - offset_; }
    // Bytes read so far.
    std::size_t offset() const { return offset_; }

private:
    // Checks the header at the position and that its value fits in what is left; on success
    // valueLength is the checked length.
    int32_t header(uint8_t direction, uint8_t type, std::size_t& valueLength) const;

    const uint8_t* bytes_;
    std::size_t size_;
    std::size_t offset_;
};
