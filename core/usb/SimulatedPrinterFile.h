#pragma once
// The simulated printers declared in simulated-printers.xml beside the program:
//   <printers><printer><PortNumber>1</PortNumber><InstanceId>USB\VID_1A2B&amp;PID_0C3D\SIM0001</InstanceId>
//   <DevicePath>\\.\pipe\QvSim\USB001</DevicePath><DeviceId>MFG:Quorvel;...</DeviceId></printer></printers>
// Portable parsing only; reading the file is the caller's business.
#include <cstdint>
#include <string>
#include <vector>

struct SimulatedPrinter {
    uint32_t portNumber = 0;  // 0 (never matches a port) when absent or not a decimal number
    std::string instanceId;
    std::string devicePath;
    std::string deviceId;  // the 1284 id text, without its length prefix
};

class SimulatedPrinterFile {
public:
    static constexpr uint32_t kInvalidData = 13;
    // The largest 1284 reply a printer hands out, length prefix included.
    static constexpr std::size_t kMax1284Reply = 1024;

    // 0 with one record per <printer> in document order; kInvalidData, and printers emptied,
    // when the text is not a well-formed <printers> document (unknown elements inside a
    // printer are ignored; values are trimmed of surrounding blanks; the five predefined and
    // numeric character references below 256 are decoded).
    static uint32_t parse(const std::string& xml, std::vector<SimulatedPrinter>& printers);

    // The class driver's form of a 1284 id: a 2-byte big-endian length counting the text and
    // itself, then the text. Empty when that would exceed kMax1284Reply bytes.
    static std::string reply1284(const std::string& deviceId);
};
