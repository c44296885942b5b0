#include "config/BrandingTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

TEST(BrandingTable, HasNineteenWellFormedRows) {
    ASSERT_EQ(brandingTableSize(), 19u);
    std::multiset<std::string> prefixes;
    for (std::size_t i = 0; i < brandingTableSize(); ++i) {
        const BrandingRow& row = brandingTable()[i];
        EXPECT_EQ(std::strlen(row.prefix), 2u) << i;
        EXPECT_GT(std::strlen(row.key), 0u) << i;
        EXPECT_TRUE(row.flag == 0 || row.flag == 1) << i;
        prefixes.insert(row.prefix);
    }
    std::size_t doubled = 0;
    for (const std::string& p : std::set<std::string>(prefixes.begin(), prefixes.end()))
        if (prefixes.count(p) == 2) ++doubled;
    EXPECT_EQ(doubled, 2u);
    EXPECT_NE(std::string(brandingTable()[1].key).find(kOemBrandWord), std::string::npos);
    EXPECT_NE(std::string(brandingTable()[2].key).find(kOemBrandWord), std::string::npos);
}

TEST(BrandingTable, LookupTakesTheFirstRowOfAPrefixIgnoringCase) {
    const BrandingRow* gn = findBrandingRow("GN__");
    ASSERT_NE(gn, nullptr);
    EXPECT_EQ(gn, &brandingTable()[1]);
    const BrandingRow* dx = findBrandingRow("dx__abc");
    ASSERT_NE(dx, nullptr);
    EXPECT_STREQ(dx->key, "Drumfell");
    EXPECT_EQ(findBrandingRow("xy__"), nullptr);
    EXPECT_EQ(findBrandingRow("q"), nullptr);
    EXPECT_EQ(findBrandingRow(""), nullptr);
}

TEST(BrandingTable, LegacyFlagFollowsTheRowsOfThePrefix) {
    EXPECT_TRUE(legacyLokiFlag("gn__"));
    EXPECT_TRUE(legacyLokiFlag("KV__"));
    EXPECT_FALSE(legacyLokiFlag("qv__"));
    EXPECT_FALSE(legacyLokiFlag("xy__"));
    EXPECT_FALSE(legacyLokiFlag(""));
}

TEST(BrandMatch, ConfiguredBrand) {
    const std::string oem = std::string("MFG:") + kOemBrandWord + ";MODEL:G7;";
    const struct {
        const char* prefix;
        bool flag;
        const char* manufacturer;
        std::string device;
        bool match;
    } cases[] = {
        {"Qv", false, "Quorvel", "MFG:Quorvel;MODEL:Q100 Series;", true},
        {"Qv", false, "Quorvel", "MFG:Other;MODEL:X;", false},
        {"Qv", false, "", "MFG:Other;MODEL:X;", false},
        {"Kv", true, "Kivrano", "MFG:Other;MODEL:QuorNet 5;", true},
        {"Kv", false, "Kivrano", "MFG:Other;MODEL:QuorNet 5;", false},
        {"Gn", true, "Gantrelle", "MFG:Anyone;", true},
        {"Gn", true, "Gantrelle", oem, false},
        {"Gn", true, "Gantrelle", oem + "CLS:PRINTER;", false},
        {"Gn", true, "Gantrelle", oem + "CMD:Printer;", true},
        {"Gn", true, "Gantrelle", oem + "Generic;", true},
        {"Gn", false, "Gantrelle", "MFG:Anyone;", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(brandMatchConfig(c.prefix, c.flag, c.manufacturer, c.device), c.match)
            << c.prefix << " " << c.flag << " " << c.device;
}

TEST(BrandMatch, TableBrand) {
    EXPECT_TRUE(brandMatchLegacy("qv__", "MFG:Quorvel;MODEL:Q1;"));
    EXPECT_FALSE(brandMatchLegacy("qv__", "MFG:Obrelin;MODEL:O1;"));
    EXPECT_TRUE(brandMatchLegacy("ob__", "MFG:Obrelin;MODEL:O1;"));
    EXPECT_FALSE(brandMatchLegacy("xy__", "MFG:printer;"));
    EXPECT_TRUE(brandMatchLegacy("kv__", "MODEL:QuorNet 2;"));
    EXPECT_TRUE(brandMatchLegacy("gn__", "MFG:Anyone;"));
    // The second "dx" row has no manufacturer name: it claims nothing by name.
    EXPECT_FALSE(brandMatchLegacy("dx__", "MFG:Nobody;"));
    EXPECT_TRUE(brandMatchLegacy("dx__", "MFG:Drumfell;"));
}
