#pragma once
// The decisions of the settings store that need no registry: which network transport a list of
// value names selects, and which devices a SupportedDevices list declares. Portable.
#include <cstdint>
#include <string>
#include <vector>

// "HBN3" wins wherever it appears; "HBN1" counts only while nothing was chosen. Empty when the
// names hold neither.
std::string chooseNetworkTransport(const std::vector<std::string>& valueNames);

struct SupportedDeviceEntry {
    std::string name;
    bool present;    // false when the value could not be read as a long
    uint32_t value;  // non-zero = supported
};

// For every present, non-zero entry whose name begins with the prefix (case ignored), the rest
// of the name in its stored case, in list order.
std::vector<std::string> filterSupportedDevices(const std::vector<SupportedDeviceEntry>& entries,
                                                const std::string& prefix);
