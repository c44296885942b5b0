#pragma once
// A byte stream of NPA reply packets of one size, cut into reads at random boundaries, as the
// port's read loop sees a printer's output. Portable; deterministic for a seed.
#include <cstdint>
#include <vector>

struct FramingStream {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> reads;  // bytes, cut in order
    uint32_t packets = 0;
};

namespace FramingStreams {

// packetSize >= 8 (head, two socket bytes, a command byte, payload); reads of 1..maxRead bytes.
FramingStream make(uint32_t packetSize, uint32_t packetCount, uint32_t maxRead, uint32_t seed);

}  // namespace FramingStreams
