#include "config/StorePaths.h"

namespace {
const char kConfigFileName[] = "communicationconfig.xml";
const std::string::size_type kLocalIdMax = 255;
const std::string::size_type kCodeLength = 4;
}  // namespace

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string computeLocalId(const std::string& modulePath) {
    const std::string lowered = lowerAscii(modulePath);
    const std::string::size_type slash = lowered.rfind('\\');
    const std::string name = slash == std::string::npos ? lowered : lowered.substr(slash + 1);
    // A module file always has an extension; a name without one is treated as if its end were
    // the dot, so that the four-character code is still the part removed.
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos) dot = name.size();
    if (dot < kCodeLength) return std::string();
    std::string id = name.substr(0, dot - kCodeLength);
    if (id.size() > kLocalIdMax) id.resize(kLocalIdMax);
    return id;
}

std::string configFilePath(const std::string& modulePath) {
    const std::string::size_type slash = modulePath.rfind('\\');
    const std::string folder = slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
    return folder + kConfigFileName;
}

std::string vendorKeyPath(const std::string& vendorRegistryName) {
    return "Software\\" + vendorRegistryName;
}

std::string storeRootPath(const std::string& vendorRegistryName) {
    return vendorKeyPath(vendorRegistryName) + "\\Bcx\\";
}

std::string scopePath(const std::string& vendorRegistryName, const std::string& localId, int scope) {
    switch (scope) {
    case 0: return storeRootPath(vendorRegistryName) + "Local\\" + localId + "\\";
    case 1: return storeRootPath(vendorRegistryName) + "Shared\\";
    default: return "Software\\QuorvelTemp\\temp";
    }
}
