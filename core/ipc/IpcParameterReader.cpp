#include "core/ipc/IpcParameterReader.h"

#include <cstring>

IpcParameterReader::IpcParameterReader(const uint8_t* p, std::size_t n)
    : bytes_(p), size_(p == nullptr ? 0 : n), offset_(0) {}

IpcParameterReader::IpcParameterReader(const Data& payload)
    : IpcParameterReader(payload.Bytes(), payload.Size()) {}

int32_t IpcParameterReader::functionId(uint16_t& id) {
    if (remaining() < 2) {
        return IpcParameter::kBadLength;
    }
    const uint8_t* p = bytes_ + offset_;
    id = static_cast<uint16_t>((p[0] << 8) | p[1]);
    offset_ += 2;
    return IpcParameter::kOk;
}

int32_t IpcParameterReader::header(uint8_t direction, uint8_t type, std::size_t& valueLength) const {
    // Direction and type are judged as soon as they are present, so that a request cut short
    // after them still reports the mistake a client can act on.
    const std::size_t left = remaining();
    const uint8_t* p = bytes_ + offset_;
    if (left < 1) {
        return IpcParameter::kBadLength;
    }
    if (p[0] != direction) {
        return IpcParameter::kWrongDirection;
    }
    if (left < 2) {
        return IpcParameter::kBadLength;
    }
    if (p[1] != type) {
        return IpcParameter::kWrongType;
    }
    if (left < IpcParameter::kHeaderSize) {
        return IpcParameter::kBadLength;
    }
    uint64_t length = 0;
    for (std::size_t i = 2; i < IpcParameter::kHeaderSize; ++i) {
        length = (length << 8) | p[i];
    }
    // Compared as 64-bit values before any narrowing, so a length of 2^32 or more cannot wrap
    // into something small.
    if (length > static_cast<uint64_t>(left - IpcParameter::kHeaderSize)) {
        return IpcParameter::kBadLength;
    }
    valueLength = static_cast<std::size_t>(length);
    return IpcParameter::kOk;
}

int32_t IpcParameterReader::longValue(uint32_t& value, uint8_t direction) {
    std::size_t length = 0;
    const int32_t rc = header(direction, IpcParameter::kTypeLong, length);
    if (rc != IpcParameter::kOk) {
        return rc;
    }
    // Any other length would leave the reader and the sender disagreeing about where the next
    // parameter starts.
    if (length != IpcParameter::kLongValueSize) {
        return IpcParameter::kBadLength;
    }
    const uint8_t* p = bytes_ + offset_ + IpcParameter::kHeaderSize;
    value = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
            (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    offset_ += IpcParameter::kLongParameterSize;
    return IpcParameter::kOk;
}

int32_t IpcParameterReader::string(std::string& text, uint8_t direction, std::size_t maxChars) {
    std::size_t length = 0;
    const int32_t rc = header(direction, IpcParameter::kTypeString, length);
    if (rc != IpcParameter::kOk) {
        return rc;
    }
    const char* value = reinterpret_cast<const char*>(bytes_ + offset_ + IpcParameter::kHeaderSize);
    if (length == 0 || value[length - 1] != '\0') {
        return IpcParameter::kBadString;
    }
    const std::size_t chars = length - 1;
    // A zero inside the text would let a C-string consumer and a counted one see different
    // names ("SET BIDI TIMEOUT" followed by a zero and more), so it is refused outright.
    if (std::memchr(value, '\0', chars) != nullptr) {
        return IpcParameter::kBadString;
    }
    if (chars > maxChars) {
        return IpcParameter::kStringTooLong;
    }
    text.assign(value, chars);
    offset_ += IpcParameter::kHeaderSize + length;
    return IpcParameter::kOk;
}

int32_t IpcParameterReader::byteArray(std::vector<uint8_t>& bytes, uint8_t direction) {
    std::size_t length = 0;
    const int32_t rc = header(direction, IpcParameter::kTypeByteArray, length);
    if (rc != IpcParameter::kOk) {
        return rc;
    }
    const uint8_t* value = bytes_ + offset_ + IpcParameter::kHeaderSize;
    bytes.assign(value, value + length);
    offset_ += IpcParameter::kHeaderSize + length;
    return IpcParameter::kOk;
}

int32_t IpcParameterReader::returnCode(int32_t& code) {
    uint32_t value = 0;
    const int32_t rc = longValue(value, IpcParameter::kDirectionReturn);
    if (rc == IpcParameter::kOk) {
        code = static_cast<int32_t>(value);
    }
    return rc;
}
