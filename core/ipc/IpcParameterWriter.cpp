#include "core/ipc/IpcParameterWriter.h"

#include "runtime/Exception.h"

#include <cstdint>
#include <cstring>

IpcParameterWriter::IpcParameterWriter(Data& message) : message_(message) {}

IpcParameterWriter& IpcParameterWriter::functionId(uint16_t id) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    append(bytes, sizeof bytes);
    return *this;
}

IpcParameterWriter& IpcParameterWriter::longValue(uint8_t direction, uint32_t value) {
    header(direction, IpcParameter::kTypeLong, IpcParameter::kLongValueSize);
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    append(bytes, sizeof bytes);
    return *this;
}

IpcParameterWriter& IpcParameterWriter::string(uint8_t direction, const std::string& text) {
    // Readers stop a string at its first zero; one in the middle would make the two sides
    // disagree about the text.
    if (text.find('\0') != std::string::npos) {
        throw Exception("IpcParameterWriter::string() text holds a zero byte", 87);
    }
    checkRoom(IpcParameter::kHeaderSize + text.size() + 1);
    header(direction, IpcParameter::kTypeString, static_cast<uint64_t>(text.size()) + 1);
    append(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
    return *this;
}

IpcParameterWriter& IpcParameterWriter::byteArray(uint8_t direction, const uint8_t* p, std::size_t n) {
    if (p == nullptr && n > 0) {
        throw Exception("IpcParameterWriter::byteArray() no bytes for a non-zero length", 87);
    }
    checkRoom(IpcParameter::kHeaderSize + n);
    header(direction, IpcParameter::kTypeByteArray, n);
    append(p, n);
    return *this;
}

IpcParameterWriter& IpcParameterWriter::paddedByteArray(uint8_t direction, const uint8_t* p, std::size_t n,
                                                        std::size_t size) {
    if ((p == nullptr && n > 0) || n > size) {
        throw Exception("IpcParameterWriter::paddedByteArray() more bytes than the parameter's size", 87);
    }
    checkRoom(IpcParameter::kHeaderSize + size);
    header(direction, IpcParameter::kTypeByteArray, size);
    append(p, n);
    static const uint8_t kZeros[4096] = {};
    for (std::size_t left = size - n; left > 0;) {
        const std::size_t step = left < sizeof kZeros ? left : sizeof kZeros;
        append(kZeros, step);
        left -= step;
    }
    return *this;
}

IpcParameterWriter& IpcParameterWriter::returnCode(int32_t code) {
    return longValue(IpcParameter::kDirectionReturn, static_cast<uint32_t>(code));
}

void IpcParameterWriter::header(uint8_t direction, uint8_t type, uint64_t length) {
    uint8_t bytes[IpcParameter::kHeaderSize];
    bytes[0] = direction;
    bytes[1] = type;
    for (int i = 0; i < 8; ++i) {
        bytes[2 + i] = static_cast<uint8_t>(length >> (56 - 8 * i));
    }
    append(bytes, sizeof bytes);
}

void IpcParameterWriter::checkRoom(std::size_t n) const {
    // Checked before the header goes in, so that a refused value leaves no half parameter.
    if (n > UINT32_MAX - static_cast<uint64_t>(message_.Size())) {
        throw Exception("IpcParameterWriter: message would exceed 4 GiB", 8);
    }
}

void IpcParameterWriter::append(const uint8_t* p, std::size_t n) {
    checkRoom(n);
    if (n > 0) {
        message_.Append(p, static_cast<uint32_t>(n));
    }
}
