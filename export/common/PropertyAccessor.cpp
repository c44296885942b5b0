#include "export/common/PropertyAccessor.h"

#include "export/common/PropertyText.h"

#include <cstdint>

namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kBadArgument = 87;              // ERROR_INVALID_PARAMETER
constexpr uint32_t kInsufficientBuffer = 122;      // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kNotFound = 1168;               // ERROR_NOT_FOUND
constexpr uint32_t kInternalError = 1359;          // ERROR_INTERNAL_ERROR
constexpr uint32_t kDatatypeMismatch = 1629;       // ERROR_DATATYPE_MISMATCH

bool ElementEquals(const std::string& desc, const char* element, const char* word) {
    std::string value;
    return FindElement(desc, element, value) && value == word;
}

// An empty Name counts as absent: a setter would otherwise report success while SetElement,
// which ignores empty names, writes nothing.
bool DescriptorName(const std::string& desc, std::string& name) {
    return FindElement(desc, PropertyAccessor::NameElement, name) && !name.empty();
}

bool Lookup(const std::string& bag, const std::string& desc, std::string& value) {
    std::string name;
    return DescriptorName(desc, name) && FindElement(bag, name, value);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A pair is read as its leading hexadecimal digits (none gives 0, one gives that digit); nothing
// outside the pair is looked at, so a value can never pull in its neighbour's characters.
uint8_t DecodePair(char high, char low) {
    const int h = HexDigit(high);
    if (h < 0) {
        return 0;
    }
    const int l = HexDigit(low);
    if (l < 0) {
        return static_cast<uint8_t>(h);
    }
    return static_cast<uint8_t>(h * 16 + l);
}

uint32_t SetterCheck(const PropertyAccessor& accessor, const std::string& desc, bool typeMatches, std::string& name) {
    if (!accessor.IsWriteable(desc) || !typeMatches) {
        return kDatatypeMismatch;
    }
    if (!DescriptorName(desc, name)) {
        return kInternalError;
    }
    return kSuccess;
}

}  // namespace

uint32_t PropertyAccessor::GetString(const std::string& bag, const std::string& desc, std::string& out) const {
    if (!IsString(desc)) {
        return kDatatypeMismatch;
    }
    std::string value;
    if (!Lookup(bag, desc, value)) {
        return kNotFound;
    }
    out = value;
    return kSuccess;
}

uint32_t PropertyAccessor::GetLong(const std::string& bag, const std::string& desc, uint32_t& out) const {
    if (!IsLong(desc)) {
        return kDatatypeMismatch;
    }
    std::string value;
    if (!Lookup(bag, desc, value)) {
        return kNotFound;
    }
    // Unsigned arithmetic: non-digits and overflow wrap instead of being undefined.
    uint32_t result = 0;
    for (const char c : value) {
        result = result * 10u + static_cast<uint32_t>(static_cast<int>(c) - '0');
    }
    out = result;
    return kSuccess;
}

uint32_t PropertyAccessor::GetByteArray(const std::string& bag, const std::string& desc, uint8_t* buf,
                                        uint32_t capacity, uint32_t& length) const {
    length = 0;
    if (!IsByteArray(desc)) {
        return kDatatypeMismatch;
    }
    std::string value;
    if (!Lookup(bag, desc, value)) {
        return kNotFound;
    }
    const std::size_t decoded = value.size() / 2;
    if (decoded > capacity) {
        length = decoded > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(decoded);
        return kInsufficientBuffer;
    }
    if (decoded > 0 && buf == nullptr) {
        return kBadArgument;
    }
    for (std::size_t i = 0; i < decoded; ++i) {
        buf[i] = DecodePair(value[2 * i], value[2 * i + 1]);
    }
    length = static_cast<uint32_t>(decoded);
    return kSuccess;
}

uint32_t PropertyAccessor::GetByteArray(const std::string& bag, const std::string& desc,
                                        std::vector<uint8_t>& out) const {
    std::string value;
    if (IsByteArray(desc) && Lookup(bag, desc, value)) {
        std::vector<uint8_t> bytes(value.size() / 2);
        uint32_t length = 0;
        const uint32_t rc = GetByteArray(bag, desc, bytes.data(), static_cast<uint32_t>(bytes.size()), length);
        if (rc == kSuccess) {
            bytes.resize(length);
            out.swap(bytes);
        }
        return rc;
    }
    uint32_t ignored = 0;
    return GetByteArray(bag, desc, nullptr, 0, ignored);
}

uint32_t PropertyAccessor::SetString(std::string& bag, const std::string& desc, const std::string& value) const {
    std::string name;
    const uint32_t rc = SetterCheck(*this, desc, IsString(desc), name);
    if (rc == kSuccess) {
        SetElement(bag, name, value);
    }
    return rc;
}

uint32_t PropertyAccessor::SetLong(std::string& bag, const std::string& desc, uint32_t value) const {
    std::string name;
    const uint32_t rc = SetterCheck(*this, desc, IsLong(desc), name);
    if (rc == kSuccess) {
        SetElement(bag, name, std::to_string(value));
    }
    return rc;
}

uint32_t PropertyAccessor::SetByteArray(std::string& bag, const std::string& desc, const uint8_t* p,
                                        uint32_t n) const {
    std::string name;
    const uint32_t rc = SetterCheck(*this, desc, IsByteArray(desc), name);
    if (rc != kSuccess) {
        return rc;
    }
    if (n > 0 && p == nullptr) {
        return kBadArgument;
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(static_cast<std::size_t>(n) * 2);
    for (uint32_t i = 0; i < n; ++i) {
        hex += digits[p[i] >> 4];
        hex += digits[p[i] & 0x0F];
    }
    SetElement(bag, name, hex);
    return kSuccess;
}

void PropertyAccessor::Remove(std::string& bag, const std::string& desc) const {
    std::string name;
    if (DescriptorName(desc, name)) {
        EraseElement(bag, name);
    }
}

bool PropertyAccessor::IsString(const std::string& desc) const {
    return ElementEquals(desc, TypeElement, StringType);
}

bool PropertyAccessor::IsLong(const std::string& desc) const {
    return ElementEquals(desc, TypeElement, LongType);
}

bool PropertyAccessor::IsByteArray(const std::string& desc) const {
    return ElementEquals(desc, TypeElement, ByteArrayType);
}

bool PropertyAccessor::IsWriteable(const std::string& desc) const {
    return ElementEquals(desc, AccessElement, WriteableAccess);
}
