#pragma once
// The built-in branding table that names a module's brand when no branding file is beside it,
// and the brand-match rules shared by the file and table brandings. Portable, no OS calls.
#include <cstddef>
#include <cstdint>
#include <string>

struct BrandingRow {
    char prefix[3];         // two letters
    char key[33];           // the brand's VendorRegistryName
    int32_t flag;           // the brand flag, 0 or 1
    char manufacturer[20];  // as device identifiers spell it; may be empty
};

// The 19 rows, in lookup order.
const BrandingRow* brandingTable();
std::size_t brandingTableSize();

// The first row whose prefix equals the first two characters of the local id (case ignored),
// or nullptr.
const BrandingRow* findBrandingRow(const std::string& localId);

// The brand flag of a table-branded module: true when any row matching its local id has flag 1.
bool legacyLokiFlag(const std::string& localId);

// What a table-branded module uses when no row matches.
extern const char kDefaultVendorRegistryName[];  // "Quorvel Tools"
extern const char kDefaultManufacturer[];        // "printer"
// The OEM brand word of the table's second and third rows.
extern const char kOemBrandWord[];

// Whether a device described by deviceText belongs to a brand configured from a file.
bool brandMatchConfig(const std::string& prefix, bool flag, const std::string& manufacturer,
                      const std::string& deviceText);
// Whether a device belongs to a brand taken from the table for this local id.
bool brandMatchLegacy(const std::string& localId, const std::string& deviceText);
