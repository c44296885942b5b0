#pragma once
// Bounds-checked reads of a packet read from the printer. Every read answers false, and leaves its
// output alone, when the bytes it wants do not all lie inside the buffer, so decoders can take
// their offsets from the protocol and still never step past a short or malformed reply.
#include "export/common/Data.h"

#include <cstdint>
#include <string>

class NpaReplyReader {
public:
    explicit NpaReplyReader(const Data& reply) : bytes_(reply.Bytes()), size_(reply.Size()) {}

    uint32_t Size() const { return size_; }

    // True when the n bytes from offset lie inside the reply.
    bool Holds(uint32_t offset, uint32_t n) const {
        return offset <= size_ && n <= size_ - offset;
    }

    bool Byte(uint32_t offset, uint8_t& value) const {
        if (!Holds(offset, 1)) {
            return false;
        }
        value = bytes_[offset];
        return true;
    }

    // Big-endian 16-bit field.
    bool Word(uint32_t offset, uint16_t& value) const {
        if (!Holds(offset, 2)) {
            return false;
        }
        value = static_cast<uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
        return true;
    }

    // n bytes from offset, copied unchanged (zero bytes included).
    bool Text(uint32_t offset, uint32_t n, std::string& value) const {
        if (!Holds(offset, n)) {
            return false;
        }
        value.assign(reinterpret_cast<const char*>(bytes_) + offset, n);
        return true;
    }

    const uint8_t* At(uint32_t offset) const { return Holds(offset, 1) ? bytes_ + offset : nullptr; }

private:
    const uint8_t* bytes_;
    uint32_t size_;
};
