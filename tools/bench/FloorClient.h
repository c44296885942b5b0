#pragma once
// The floor of an exchange: the request written straight to a simulated printer's PIPE00 and the
// reply read from its PIPE01 (overlapped, like the port's endpoints) until one whole NPA packet
// has come, the pipes kept open between exchanges. No service in between. One thread.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <string>
#include <vector>

class FloorClient {
public:
    FloorClient();
    // Opens devicePath\PIPE01 then \PIPE00: 0 or the system's code.
    int32_t open(const std::string& devicePath);
    // 0 with the reply packet, or a code (1460 when no whole packet came within timeoutMs).
    int32_t roundTrip(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply, DWORD timeoutMs);

private:
    UniqueFileHandle read_;
    UniqueFileHandle write_;
    UniqueHandle event_;
    std::vector<uint8_t> pending_;  // bytes read past the last packet
};
