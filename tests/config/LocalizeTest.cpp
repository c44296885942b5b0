#include "TestBranding.h"
#include "config/ConfigurationFromHinge.h"
#include "config/Localize.h"
#include "config/LocalizeConfig.h"
#include "config/LocalizeLegacy.h"
#include "runtime/Exception.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <memory>
#include <thread>

TEST(LocalizeConfig, BrandsFromTheFileBesideTheModuleKeepingBlanks) {
    TestBranding branding;
    branding.writeConfig(branding.configXml("  <Loki>1</Loki>\r\n"));
    LocalizeConfig record(nullptr, branding.modulePath());
    EXPECT_EQ(record.getVendorRegistryName(), branding.vendor());
    EXPECT_EQ(record.getManufacturerPrefix(), "Qt");
    EXPECT_EQ(record.getManufacturer(), "Testmaker ");
    EXPECT_EQ(record.getManufacturerShortName(), branding.vendor());
    EXPECT_EQ(record.getLocalId(), "qv__");
    EXPECT_EQ(record.getModulePath(), branding.modulePath());
    EXPECT_EQ(record.getVendorKey(), "Software\\" + branding.vendor());
    EXPECT_EQ(record.getStoreRoot(), "Software\\" + branding.vendor() + "\\Bcx\\");
    EXPECT_EQ(record.getScopePath(0), "Software\\" + branding.vendor() + "\\Bcx\\Local\\qv__\\");
    EXPECT_EQ(record.getScopePath(1), "Software\\" + branding.vendor() + "\\Bcx\\Shared\\");
    EXPECT_TRUE(record.getLokiFlag(nullptr));
    EXPECT_TRUE(record.matchesBrand("MFG:Testmaker ;MODEL:T1;"));
    EXPECT_FALSE(record.matchesBrand("MFG:Testmaker;MODEL:T1;"));
}

TEST(LocalizeConfig, LokiIsOnOnlyForExactlyOne) {
    TestBranding branding;
    const struct {
        const char* element;
        bool on;
    } cases[] = {
        {"<Loki>1</Loki>", true},   {"<Loki>1 </Loki>", false}, {"<Loki> 1</Loki>", false},
        {"<Loki>0</Loki>", false},  {"<Loki>11</Loki>", false}, {"<Loki></Loki>", false},
        {"", false},
    };
    for (const auto& c : cases) {
        branding.writeConfig(branding.configXml(c.element));
        LocalizeConfig record(nullptr, branding.modulePath());
        EXPECT_EQ(record.getLokiFlag(nullptr), c.on) << c.element;
    }
}

TEST(LocalizeConfig, RaisesWithCode87ForEachMissingPiece) {
    TestBranding branding;
    const std::string vendor = "<VendorRegistryName>" + branding.vendor() + "</VendorRegistryName>";
    const std::string prefix = "<ManufacturerPrefix>Qt</ManufacturerPrefix>";
    const std::string name = "<Manufacturer>Testmaker</Manufacturer>";
    const std::string shortName = "<ManufacturerShortName>Tm</ManufacturerShortName>";
    const struct {
        std::string xml;  // empty: no file at all
        const char* message;
    } cases[] = {
        {"", "LocalizeConfig::LocalizeConfig could not load xml"},
        {"<config><VendorRegistryName>x</Vendor", "LocalizeConfig::LocalizeConfig could not load xml"},
        {"<other>" + vendor + prefix + name + shortName + "</other>", "LocalizeConfig::LocalizeConfig could not load xml"},
        {"<config> <!-- nothing --> </config>", "LocalizeConfig::LocalizeConfig could not load xml"},
        {"<config>" + prefix + name + shortName + "</config>",
         "LocalizeConfig::LocalizeConfig couldn't get vendor registry name "},
        {"<config>" + vendor + name + shortName + "</config>", "LocalizeConfig::LocalizeConfig couldn't get mfg prefix "},
        {"<config>" + vendor + prefix + shortName + "</config>", "LocalizeConfig::LocalizeConfig couldn't get mfg name "},
        {"<config>" + vendor + prefix + name + "</config>",
         "LocalizeConfig::LocalizeConfig couldn't get mfg short name"},
        // A vendor name that would aim the store (and its deletion) outside the vendor's own key.
        {"<config><VendorRegistryName></VendorRegistryName>" + prefix + name + shortName + "</config>",
         "LocalizeConfig::LocalizeConfig couldn't get vendor registry name "},
        {"<config><VendorRegistryName>A\\B</VendorRegistryName>" + prefix + name + shortName + "</config>",
         "LocalizeConfig::LocalizeConfig couldn't get vendor registry name "},
    };
    for (const auto& c : cases) {
        branding.removeConfig();
        if (!c.xml.empty()) branding.writeConfig(c.xml);
        try {
            LocalizeConfig record(nullptr, branding.modulePath());
            ADD_FAILURE() << "no exception for " << c.xml;
        } catch (const Win32Exception& e) {
            EXPECT_EQ(e.message(), c.message) << c.xml;
            EXPECT_EQ(e.code(), 87) << c.xml;
        }
    }
}

TEST(LocalizeLegacy, TakesTheFirstTableRowOfThePrefixOrTheDefaults) {
    const struct {
        const char* path;
        const char* vendor;
        const char* prefix;
        const char* manufacturer;
        bool flag;
    } cases[] = {
        {"C:\\somewhere\\xy__abcd.exe", "Quorvel Tools", "xy", "printer", false},
        {"C:\\somewhere\\GN__ABCD.EXE", "Gantrelle", "gn", "Gantrelle", true},
        {"C:\\somewhere\\dx__abcd.dll", "Drumfell", "dx", "Drumfell", false},
        {"C:\\somewhere\\qv__tolvex.exe", "Quorvel", "qv", "Quorvel", false},
        {"C:\\somewhere\\ab.dll", "Quorvel Tools", "", "printer", false},
    };
    for (const auto& c : cases) {
        LocalizeLegacy record(nullptr, c.path);
        EXPECT_EQ(record.getVendorRegistryName(), c.vendor) << c.path;
        EXPECT_EQ(record.getManufacturerPrefix(), c.prefix) << c.path;
        EXPECT_EQ(record.getManufacturer(), c.manufacturer) << c.path;
        EXPECT_EQ(record.getManufacturerShortName(), "") << c.path;
        EXPECT_EQ(record.getLokiFlag(nullptr), c.flag) << c.path;
    }
}

TEST(LocalizeLegacy, DerivesTheLocalIdFromTheRealModule) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    LocalizeLegacy record(nullptr);
    EXPECT_EQ(record.getModulePath(), path);
    EXPECT_EQ(record.getLocalId(), "config_t");  // config_tests.exe
    EXPECT_EQ(record.getManufacturerPrefix(), "co");
    EXPECT_EQ(record.getVendorRegistryName(), "Quorvel Tools");
    EXPECT_FALSE(record.getLokiFlag(nullptr));
}

TEST(Localize, SingletonFromFileThenTableAndRaisesWhenAbsent) {
    Localize::destroyInstance();
    const char* before = "You must call Localize::createInstance() before calling getInstance()";
    try {
        Localize::getInstance();
        ADD_FAILURE() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), before);
        EXPECT_EQ(e.code(), 0);
    }

    TestBranding branding;
    branding.writeConfig(branding.configXml());
    Localize::createInstance(nullptr, branding.modulePath());
    ASSERT_TRUE(Localize::exists());
    LocalizeBase* first = &Localize::getInstance();
    EXPECT_NE(dynamic_cast<LocalizeConfig*>(first), nullptr);
    EXPECT_EQ(first->getVendorRegistryName(), branding.vendor());
    // Later calls keep the record.
    Localize::createInstance(nullptr, "C:\\elsewhere\\xy__abcd.exe");
    EXPECT_EQ(&Localize::getInstance(), first);
    Localize::destroyInstance();
    EXPECT_FALSE(Localize::exists());
    EXPECT_THROW(Localize::getInstance(), Win32Exception);

    // A file without the short name counts as no file: the table brands, short name empty.
    branding.writeConfig("<config><VendorRegistryName>V</VendorRegistryName><ManufacturerPrefix>Qt</ManufacturerPrefix>"
                         "<Manufacturer>M</Manufacturer></config>");
    Localize::createInstance(nullptr, branding.modulePath());
    EXPECT_NE(dynamic_cast<LocalizeLegacy*>(&Localize::getInstance()), nullptr);
    EXPECT_EQ(Localize::getInstance().getVendorRegistryName(), "Quorvel");  // the "qv" row
    EXPECT_EQ(Localize::getInstance().getManufacturerShortName(), "");
    Localize::destroyInstance();

    branding.removeConfig();
    Localize::createInstance(nullptr);
    EXPECT_EQ(Localize::getInstance().getLocalId(), "config_t");
    Localize::destroyInstance();
}

TEST(ConfigurationFromHinge, LaterDuplicatesWinAndOnlyElementsCount) {
    TestBranding branding;
    branding.writeConfig("<root><!-- c --><config>\r\n <A>1</A>\r\n <B> two  words </B>\r\n <A>3</A><?pi x?>"
                         "<C/><D><![CDATA[ cdata ]]></D></config></root>");
    ConfigurationFromHinge reader;
    ASSERT_TRUE(reader.load(branding.folder() + "communicationconfig.xml"));
    const std::map<std::string, std::string> expected = {{"A", "3"}, {"B", " two  words "}, {"C", ""}, {"D", " cdata "}};
    EXPECT_EQ(reader.entries(), expected);
    std::string value;
    EXPECT_FALSE(reader.get("Missing", value));
    ASSERT_TRUE(reader.get("B", value));
    EXPECT_EQ(value, " two  words ");
    // A failed load leaves nothing of the earlier one.
    EXPECT_FALSE(reader.load(branding.folder() + "absent.xml"));
    EXPECT_TRUE(reader.entries().empty());
}

TEST(ConfigurationFromHinge, LeavesTheThreadsComApartmentAsItFoundIt) {
    TestBranding branding;
    branding.writeConfig(branding.configXml());
    const std::string file = branding.folder() + "communicationconfig.xml";
    HRESULT afterMta = E_FAIL;
    HRESULT afterSta = E_FAIL;
    bool loadedInMta = false;
    bool loadedInSta = false;
    // A thread without COM: the reader initialises and uninitialises it, so a fresh initialise
    // afterwards is the first one again (S_OK).
    std::thread([&] {
        ConfigurationFromHinge reader;
        loadedInMta = reader.load(file);
        afterMta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterMta)) CoUninitialize();
    }).join();
    // A thread already in a single-threaded apartment keeps it.
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ConfigurationFromHinge reader;
        loadedInSta = reader.load(file);
        afterSta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(afterSta)) CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_TRUE(loadedInMta);
    EXPECT_EQ(afterMta, S_OK);
    EXPECT_TRUE(loadedInSta);
    EXPECT_EQ(afterSta, S_FALSE);
}
