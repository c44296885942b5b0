#pragma once
// Byte vectors written as hex text ("A5 00 05 50"), for packet tables.
#include "export/common/Data.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
    }
    return bytes;
}

inline Data HexData(const std::string& text) {
    const std::vector<uint8_t> bytes = Hex(text);
    return Data(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline std::vector<uint8_t> Remaining(const Data& d) {
    return d.Size() == 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size());
}
