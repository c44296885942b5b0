#include "config/StorePaths.h"

#include <gtest/gtest.h>

TEST(LocalId, RemovesTheFourCharactersBeforeTheLastDot) {
    const struct {
        const char* path;
        const char* id;
    } cases[] = {
        {"c:\\x\\ABCD__WXYZ.DLL", "abcd__"},
        {"abcd__vwxyz.exe", "abcd__v"},
        {"C:\\Program Files\\Qv\\QV__TOLVEX.EXE", "qv__to"},
        {"c:\\dir.with.dots\\xy__abcd.exe", "xy__"},
        {"c:\\a\\ab.dll", ""},
        {"c:\\a\\abcd.dll", ""},
        {"c:\\a\\abcde.dll", "a"},
        {"c:\\a\\name.tar.gz", "name"},
        {"c:\\a\\ÄB__WXYZ.DLL", "Äb__"},  // only A to Z are lowered
        {"c:\\a\\noextension", "noexten"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(computeLocalId(c.path), c.id) << c.path;
}

TEST(LocalId, IsCutTo255Characters) {
    const std::string longName(300, 'q');
    EXPECT_EQ(computeLocalId("c:\\" + longName + "wxyz.exe"), std::string(255, 'q'));
}

TEST(StorePaths, ComposeFromTheVendorAndTheLocalId) {
    EXPECT_EQ(vendorKeyPath("Quorvel"), "Software\\Quorvel");
    EXPECT_EQ(storeRootPath("Quorvel"), "Software\\Quorvel\\Bcx\\");
    EXPECT_EQ(scopePath("Quorvel", "qv__", 0), "Software\\Quorvel\\Bcx\\Local\\qv__\\");
    EXPECT_EQ(scopePath("Quorvel", "qv__", 1), "Software\\Quorvel\\Bcx\\Shared\\");
    EXPECT_EQ(scopePath("Quorvel", "qv__", 2), "Software\\QuorvelTemp\\temp");
    EXPECT_EQ(scopePath("Quorvel", "qv__", -1), "Software\\QuorvelTemp\\temp");
    EXPECT_EQ(configFilePath("C:\\Program Files\\Qv\\qv__tolvex.exe"), "C:\\Program Files\\Qv\\communicationconfig.xml");
    EXPECT_EQ(configFilePath("qv__tolvex.exe"), "communicationconfig.xml");
}
