#include "config/SettingsRules.h"

#include "config/StorePaths.h"

std::string chooseNetworkTransport(const std::vector<std::string>& valueNames) {
    std::string chosen;
    for (const std::string& name : valueNames) {
        if (name == "HBN3")
            chosen = name;
        else if (name == "HBN1" && chosen.empty())
            chosen = name;
    }
    return chosen;
}

std::vector<std::string> filterSupportedDevices(const std::vector<SupportedDeviceEntry>& entries,
                                                const std::string& prefix) {
    const std::string loweredPrefix = lowerAscii(prefix);
    std::vector<std::string> devices;
    for (const SupportedDeviceEntry& entry : entries) {
        if (!entry.present || entry.value == 0) continue;
        if (lowerAscii(entry.name).compare(0, loweredPrefix.size(), loweredPrefix) == 0)
            devices.push_back(entry.name.substr(loweredPrefix.size()));
    }
    return devices;
}
