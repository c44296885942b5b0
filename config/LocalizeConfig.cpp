#include "config/LocalizeConfig.h"

#include "config/BrandingTable.h"
#include "config/StorePaths.h"
#include "runtime/Exception.h"

LocalizeConfig::LocalizeConfig(HMODULE module) : LocalizeBase(module) { readConfiguration(); }

LocalizeConfig::LocalizeConfig(HMODULE module, const std::string& modulePath) : LocalizeBase(module, modulePath) {
    readConfiguration();
}

void LocalizeConfig::readConfiguration() {
    if (!configuration_.load(configFilePath(modulePath_)))
        throw Win32Exception("LocalizeConfig::LocalizeConfig could not load xml", ERROR_INVALID_PARAMETER);
    const struct {
        const char* key;
        std::string* field;
        const char* missing;
    } required[] = {
        {"VendorRegistryName", &vendorRegistryName_, "LocalizeConfig::LocalizeConfig couldn't get vendor registry name "},
        {"ManufacturerPrefix", &manufacturerPrefix_, "LocalizeConfig::LocalizeConfig couldn't get mfg prefix "},
        {"Manufacturer", &manufacturer_, "LocalizeConfig::LocalizeConfig couldn't get mfg name "},
        {"ManufacturerShortName", &manufacturerShortName_, "LocalizeConfig::LocalizeConfig couldn't get mfg short name"},
    };
    for (const auto& entry : required)
        if (!configuration_.get(entry.key, *entry.field)) throw Win32Exception(entry.missing, ERROR_INVALID_PARAMETER);
    // The vendor name is one registry key name under "Software\"; the uninstall clean-up deletes
    // that key. An empty name, or one with a "\", would aim the deletion at Software itself or at
    // another vendor's key, so such a file does not brand the module.
    if (vendorRegistryName_.empty() || vendorRegistryName_.find('\\') != std::string::npos)
        throw Win32Exception(required[0].missing, ERROR_INVALID_PARAMETER);
}

bool LocalizeConfig::matchesBrand(const std::string& deviceText) const {
    return brandMatchConfig(manufacturerPrefix_, getLokiFlag(module_), manufacturer_, deviceText);
}

bool LocalizeConfig::getLokiFlag(HMODULE) const {
    std::string value;
    return configuration_.get("Loki", value) && value == "1";
}
