#pragma once
// Byte helpers for the codec tests: hex text to bytes and back, Data conversions.
#include "core/ipc/IpcParameterReader.h"
#include "export/common/Data.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "00 22 04" -> {0x00, 0x22, 0x04}; blanks are ignored.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                 : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Data ToData(const Bytes& b) {
    return Data(b.data(), static_cast<uint32_t>(b.size()));
}

inline Bytes FromData(const Data& d) {
    return d.Size() == 0 ? Bytes() : Bytes(d.Bytes(), d.Bytes() + d.Size());
}

// The return code of a reply payload (after its function id); -1 when it has none.
inline int32_t ReplyCode(const Data& reply) {
    IpcParameterReader in(reply);
    uint16_t function = 0;
    int32_t code = -1;
    if (in.functionId(function) != 0 || in.returnCode(code) != 0) return -1;
    return code;
}
