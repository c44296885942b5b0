// The simulated-printers file (SimulatedPrinterFile::parse) over arbitrary text, and the 1284
// reply built from each device id it yields.
// Checked: codes 0 or 13, and 13 leaves no printers; the records of an accepted file, written
// out again as a document (every character outside printable ASCII but zero, and the markup
// characters, as references), parse back to the same records; a 1284 reply is the id behind a
// big-endian length that counts the id and itself, or empty when that would pass the 1024-byte
// bound.
#include "core/usb/SimulatedPrinterFile.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Escaped(const std::string& value) {
    std::string out;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        // A zero has no reference form (the parser refuses &#0;) and is taken as it stands.
        if ((u != 0 && u <= 0x20) || u >= 0x7F || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') {
            out += "&#" + std::to_string(u) + ";";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Document(const std::vector<SimulatedPrinter>& printers) {
    std::string xml = "<?xml version=\"1.0\"?>\n<printers>\n";
    for (const SimulatedPrinter& p : printers) {
        xml += "  <printer><PortNumber>" + std::to_string(p.portNumber) + "</PortNumber><InstanceId>" +
               Escaped(p.instanceId) + "</InstanceId><DevicePath>" + Escaped(p.devicePath) +
               "</DevicePath><DeviceId>" + Escaped(p.deviceId) + "</DeviceId></printer>\n";
    }
    return xml + "</printers>\n";
}

bool Same(const SimulatedPrinter& a, const SimulatedPrinter& b) {
    return a.portNumber == b.portNumber && a.instanceId == b.instanceId && a.devicePath == b.devicePath &&
           a.deviceId == b.deviceId;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string xml(reinterpret_cast<const char*>(data), size);
    std::vector<SimulatedPrinter> printers(1);
    const uint32_t rc = SimulatedPrinterFile::parse(xml, printers);
    FUZZ_CHECK(rc == 0 || rc == SimulatedPrinterFile::kInvalidData);
    if (rc != 0) {
        FUZZ_CHECK(printers.empty());
        return 0;
    }
    std::vector<SimulatedPrinter> again;
    FUZZ_CHECK(SimulatedPrinterFile::parse(Document(printers), again) == 0);
    FUZZ_CHECK(again.size() == printers.size());
    for (size_t i = 0; i < printers.size(); ++i) FUZZ_CHECK(Same(printers[i], again[i]));

    for (const SimulatedPrinter& p : printers) {
        const std::string reply = SimulatedPrinterFile::reply1284(p.deviceId);
        if (p.deviceId.size() + 2 > SimulatedPrinterFile::kMax1284Reply) {
            FUZZ_CHECK(reply.empty());
            continue;
        }
        FUZZ_CHECK(reply.size() == p.deviceId.size() + 2);
        const size_t length = (static_cast<size_t>(static_cast<uint8_t>(reply[0])) << 8) | static_cast<uint8_t>(reply[1]);
        FUZZ_CHECK(length == reply.size() && reply.compare(2, std::string::npos, p.deviceId) == 0);
    }
    return 0;
}
