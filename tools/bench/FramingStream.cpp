#include "tools/bench/FramingStream.h"

#include <algorithm>
#include <random>

namespace FramingStreams {

FramingStream make(uint32_t packetSize, uint32_t packetCount, uint32_t maxRead, uint32_t seed) {
    FramingStream s;
    if (packetSize < 8 || maxRead == 0) return s;
    s.bytes.reserve(static_cast<size_t>(packetSize) * packetCount);
    for (uint32_t i = 0; i < packetCount; ++i) {
        const uint32_t length = packetSize - 3;
        // A reply (flags 0x40, not continued) on socket e0/81 with a counting payload.
        s.bytes.push_back(0xA5);
        s.bytes.push_back(static_cast<uint8_t>(length >> 8));
        s.bytes.push_back(static_cast<uint8_t>(length & 0xFF));
        s.bytes.push_back(0x40);
        s.bytes.push_back(0xE0);
        s.bytes.push_back(0x81);
        s.bytes.push_back(0x01);
        for (uint32_t k = 7; k < packetSize; ++k) s.bytes.push_back(static_cast<uint8_t>(i + k));
    }
    s.packets = packetCount;
    std::mt19937 random(seed);
    std::uniform_int_distribution<uint32_t> cut(1, maxRead);
    for (size_t at = 0; at < s.bytes.size();) {
        const size_t n = std::min<size_t>(cut(random), s.bytes.size() - at);
        s.reads.emplace_back(s.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             s.bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    return s;
}

}  // namespace FramingStreams
