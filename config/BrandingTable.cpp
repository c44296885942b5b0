#include "config/BrandingTable.h"

#include "config/StorePaths.h"

const char kDefaultVendorRegistryName[] = "Quorvel Tools";
const char kDefaultManufacturer[] = "printer";
const char kOemBrandWord[] = "Gantrelle";

namespace {

// The maker's own brand first, then its OEM brands. "gn" and "dx" occur twice on purpose: a
// lookup takes the first of them.
const BrandingRow kTable[] = {
    {"qv", "Quorvel", 0, "Quorvel"},
    {"gn", "Gantrelle", 1, "Gantrelle"},
    {"gn", "Gantrelle Office", 1, "Gantrelle"},
    {"kv", "Kivrano", 1, "Kivrano"},
    {"dx", "Drumfell", 0, "Drumfell"},
    {"dx", "Drumfell Imaging", 0, ""},
    {"ob", "Obrelin", 0, "Obrelin"},
    {"pz", "Pazzolet", 0, "Pazzolet"},
    {"mv", "Mevrantis", 0, "Mevrantis"},
    {"tl", "Tolmeric", 0, "Tolmeric"},
    {"sv", "Svenloft", 0, "Svenloft"},
    {"hy", "Hyraxen", 0, "Hyraxen"},
    {"fq", "Fenquist", 0, "Fenquist"},
    {"lz", "Lozardi", 0, "Lozardi"},
    {"wb", "Wembrisk", 0, "Wembrisk"},
    {"yr", "Yarrowen", 0, "Yarrowen"},
    {"cb", "Corbantel", 0, "Corbantel"},
    {"nx", "Nexuvane", 0, ""},
    {"ux", "Uxbrellon", 0, "Uxbrellon"},
};

bool prefixMatches(const BrandingRow& row, const std::string& localId) {
    return localId.size() >= 2 && lowerAscii(localId.substr(0, 2)) == lowerAscii(row.prefix);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The two rules by which a flagged brand claims devices beyond its own manufacturer name.
// Returns 1 for yes, 0 for no, -1 when neither rule decides.
int flaggedBrandRule(const std::string& loweredPrefix, bool flag, const std::string& deviceText) {
    if (!flag) return -1;
    if (contains(loweredPrefix, "kv") && contains(deviceText, "QuorNet")) return 1;
    if (contains(loweredPrefix, "gn")) {
        if (contains(deviceText, kOemBrandWord) && !contains(deviceText, "Generic"))
            return contains(deviceText, ":Printer") ? 1 : 0;
        return 1;
    }
    return -1;
}

}  // namespace

const BrandingRow* brandingTable() { return kTable; }
std::size_t brandingTableSize() { return sizeof kTable / sizeof kTable[0]; }

const BrandingRow* findBrandingRow(const std::string& localId) {
    for (const BrandingRow& row : kTable)
        if (prefixMatches(row, localId)) return &row;
    return nullptr;
}

bool legacyLokiFlag(const std::string& localId) {
    for (const BrandingRow& row : kTable)
        if (prefixMatches(row, localId) && row.flag == 1) return true;
    return false;
}

bool brandMatchConfig(const std::string& prefix, bool flag, const std::string& manufacturer,
                      const std::string& deviceText) {
    std::string lowered = lowerAscii(prefix);
    if (lowered.size() > 20) lowered.resize(20);
    const int rule = flaggedBrandRule(lowered, flag, deviceText);
    if (rule >= 0) return rule == 1;
    // An empty name would be found in every text; a brand without a name claims nothing by it.
    return !manufacturer.empty() && contains(deviceText, manufacturer);
}

bool brandMatchLegacy(const std::string& localId, const std::string& deviceText) {
    const bool flag = legacyLokiFlag(localId);
    const int rule = flaggedBrandRule(lowerAscii(localId), flag, deviceText);
    if (rule >= 0) return rule == 1;
    for (const BrandingRow& row : kTable) {
        const std::string name = row.manufacturer;
        if (!name.empty() && contains(deviceText, name) && (row.flag == 1) == flag && prefixMatches(row, localId))
            return true;
    }
    return false;
}
