#include "config/LocalizeLegacy.h"

#include "config/BrandingTable.h"
#include "config/StorePaths.h"
#include "runtime/Exception.h"

LocalizeLegacy::LocalizeLegacy(HMODULE module) : LocalizeBase(module) { fillFromTable(); }

LocalizeLegacy::LocalizeLegacy(HMODULE module, const std::string& modulePath) : LocalizeBase(module, modulePath) {
    fillFromTable();
}

void LocalizeLegacy::fillFromTable() {
    const BrandingRow* row = findBrandingRow(localId_);
    vendorRegistryName_ = row != nullptr ? row->key : kDefaultVendorRegistryName;
    manufacturerPrefix_ = localId_.substr(0, 2);
    manufacturer_ = row != nullptr ? row->manufacturer : kDefaultManufacturer;
}

bool LocalizeLegacy::matchesBrand(const std::string& deviceText) const {
    return brandMatchLegacy(localId_, deviceText);
}

bool LocalizeLegacy::getLokiFlag(HMODULE module) const {
    if (module == module_) return legacyLokiFlag(localId_);
    try {
        return legacyLokiFlag(computeLocalId(moduleFileName(module, "Localize::Localize(): GetLocalId failed")));
    } catch (const Win32Exception&) {
        // A module whose name cannot be read belongs to no flagged brand.
        return false;
    }
}
