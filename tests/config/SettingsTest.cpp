#include "TestBranding.h"
#include "config/Localize.h"
#include "config/Settings.h"
#include "runtime/Exception.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <memory>

namespace {

// Every case brands the process with a vendor of its own and removes its keys afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        branding_.reset(new TestBranding);
        branding_->writeConfig(branding_->configXml());
        Localize::destroyInstance();
        Localize::createInstance(nullptr, branding_->modulePath());
        ASSERT_EQ(Localize::getInstance().getVendorRegistryName(), branding_->vendor());
        vendorKey_ = "Software\\" + branding_->vendor();
        storeRoot_ = vendorKey_ + "\\Bcx\\";
        local_ = storeRoot_ + "Local\\qv__\\";
    }
    void TearDown() override {
        Localize::destroyInstance();
        branding_.reset();
        EXPECT_FALSE(keyExists(vendorKey_)) << "the test's keys were left behind";
    }

    static bool keyExists(const std::string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    static void rawSet(const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size) {
        RegistryKey64 key(path, true, HKEY_LOCAL_MACHINE, kRegistryWriteAccess);
        ASSERT_EQ(RegSetValueExA(key.handle(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    static DWORD rawType(const std::string& path, const std::string& name) {
        RegistryKey key(path, false, HKEY_LOCAL_MACHINE, KEY_READ);
        return key.getValueType(name);
    }

    static std::vector<uint8_t> bytesOf(const Data& data) {
        return std::vector<uint8_t>(data.Bytes(), data.Bytes() + data.Size());
    }

    std::unique_ptr<TestBranding> branding_;
    std::string vendorKey_;
    std::string storeRoot_;
    std::string local_;
};

}  // namespace

TEST_F(SettingsTest, GetWithDefaultCreatesNothingWithoutAStoreRoot) {
    Settings settings;
    EXPECT_FALSE(settings.storeExists());
    uint32_t value = 5;
    std::string text = "kept";
    Data bytes(1, 0x01);
    EXPECT_FALSE(settings.getLong("Settings\\", "NpaTimeout", value, 10000, 0));
    EXPECT_FALSE(settings.getString("Settings\\", "Name", text, "default", 1));
    EXPECT_FALSE(settings.getBinary("Settings\\", "Blob", bytes, Data(2, 0x09), 0));
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(keyExists(vendorKey_));
}

TEST_F(SettingsTest, GetLongCreatesTheDefaultAndReplacesAWrongType) {
    Settings settings;
    ASSERT_EQ(settings.createStore(), 0u);
    EXPECT_TRUE(settings.storeExists());
    EXPECT_TRUE(Settings().storeExists());

    uint32_t value = 0;
    ASSERT_TRUE(settings.getLong("Settings\\", "NpaTimeout", value, 10000, 0));
    EXPECT_EQ(value, 10000u);
    EXPECT_EQ(rawType(local_ + "Settings", "NpaTimeout"), static_cast<DWORD>(REG_DWORD));
    ASSERT_TRUE(settings.setLong("Settings\\", "NpaTimeout", 42, 0));
    ASSERT_TRUE(settings.getLong("Settings\\", "NpaTimeout", value, 10000, 0));
    EXPECT_EQ(value, 42u);

    const char text[] = "30";
    rawSet(local_ + "Settings", "BidiTimeout", REG_SZ, text, sizeof text);
    EXPECT_FALSE(settings.readLong("Settings\\", "BidiTimeout", value, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATATYPE_MISMATCH));
    ASSERT_TRUE(settings.getLong("Settings\\", "BidiTimeout", value, 7, 0));
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(rawType(local_ + "Settings", "BidiTimeout"), static_cast<DWORD>(REG_DWORD));

    // The Shared scope is another key.
    ASSERT_TRUE(settings.getLong("Settings\\", "NpaTimeout", value, 3, 1));
    EXPECT_EQ(value, 3u);
    EXPECT_TRUE(keyExists(storeRoot_ + "Shared\\Settings"));
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, StringsAndBinaries) {
    Settings settings;
    ASSERT_EQ(settings.createStore(), 0u);
    std::string text;
    ASSERT_TRUE(settings.getString("Paths\\", "Folder", text, " with blanks ", 0));
    EXPECT_EQ(text, " with blanks ");
    ASSERT_TRUE(settings.setString("Paths\\", "Empty", "", 0));
    ASSERT_TRUE(settings.readString("Paths\\", "Empty", text, 0));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(settings.readString("Paths\\", "Absent", text, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

    const char expand[] = "%SystemRoot%\\system32";
    rawSet(local_ + "Paths", "Expandable", REG_EXPAND_SZ, expand, sizeof expand);
    ASSERT_TRUE(settings.readString("Paths\\", "Expandable", text, 0));
    EXPECT_EQ(text, expand);
    // Stored without its terminating zero: still read whole.
    rawSet(local_ + "Paths", "Unterminated", REG_SZ, "abc", 3);
    ASSERT_TRUE(settings.readString("Paths\\", "Unterminated", text, 0));
    EXPECT_EQ(text, "abc");

    Data bytes(1, 0xFF);
    bytes.SetStatus(5);
    EXPECT_FALSE(settings.readBinary("Paths\\", "Blob", bytes, 0));
    EXPECT_EQ(bytes.Size(), 0u);
    EXPECT_EQ(bytes.Status(), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    const uint8_t raw[] = {0x00, 0x01, 0xFE, 0x00, 0x7F};
    Data blob(raw, sizeof raw);
    blob.Consume(1, false);  // only the bytes from the cursor count
    const std::vector<uint8_t> expected(raw + 1, raw + sizeof raw);
    ASSERT_TRUE(settings.getBinary("Paths\\", "Blob", bytes, blob, 0));
    EXPECT_EQ(bytesOf(bytes), expected);
    ASSERT_TRUE(settings.readBinary("Paths\\", "Blob", bytes, 0));
    EXPECT_EQ(bytesOf(bytes), expected);
    EXPECT_FALSE(settings.readBinary("Paths\\", "Folder", bytes, 0));  // a string
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATATYPE_MISMATCH));

    EXPECT_EQ(settings.deleteValue("Paths\\", "Blob", 0), 0u);
    EXPECT_EQ(settings.deleteValue("Paths\\", "Blob", 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(settings.deleteValue("NoSuchKey\\", "Blob", 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    std::vector<std::string> names{"kept"};
    EXPECT_FALSE(settings.getValueNames("", names, 0));
    ASSERT_TRUE(settings.getValueNames("Paths\\", names, 0));
    EXPECT_EQ(names.front(), "kept");
    EXPECT_EQ(names.size(), 5u);
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, DeleteKeyNeedsAnExistingKey) {
    Settings settings;
    ASSERT_TRUE(settings.setLong("Tree\\A\\B", "x", 1, 0));
    ASSERT_TRUE(settings.setLong("Tree\\C", "y", 1, 0));
    EXPECT_TRUE(settings.deleteKey("Tree\\", 0));
    EXPECT_FALSE(keyExists(local_ + "Tree"));
    EXPECT_TRUE(keyExists(local_));
    try {
        settings.deleteKey("Tree\\", 0);
        ADD_FAILURE() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "RegistryKey64::regOpenKeyEx()");
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
    }
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, BasePathsAndInbox) {
    Settings settings;
    EXPECT_EQ(settings.getBasePath(0), local_);
    EXPECT_EQ(settings.getBasePath(1), storeRoot_ + "Shared\\");
    EXPECT_EQ(settings.getBasePath(7), "Software\\QuorvelTemp\\temp");
    EXPECT_FALSE(settings.getLokiFlag(nullptr));
    EXPECT_FALSE(settings.isInbox());
    ASSERT_TRUE(settings.setLong("Settings\\", "Inbox", 0, 0));
    EXPECT_FALSE(settings.isInbox());
    ASSERT_TRUE(settings.setLong("Settings\\", "Inbox", 2, 0));
    EXPECT_TRUE(settings.isInbox());

    BasicSettings64 plain(storeRoot_, "module", HKEY_LOCAL_MACHINE);
    EXPECT_EQ(plain.getBasePath(0), storeRoot_ + "Local\\module\\");
    EXPECT_EQ(plain.getBasePath(1), storeRoot_ + "Shared\\");
    BasicSettings64 noInstance(vendorKey_ + "\\Bcx", "", HKEY_LOCAL_MACHINE);
    EXPECT_EQ(noInstance.getBasePath(0), storeRoot_);
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, NetworkTransportFromValueNames) {
    const struct {
        std::vector<std::string> names;
        const char* transport;
    } cases[] = {
        {{"HBN1", "HBN3"}, "HBN3"},
        {{"HBN3", "HBN1"}, "HBN3"},
        {{"HBN1"}, "HBN1"},
    };
    for (const auto& c : cases) {
        Settings settings;
        for (const std::string& name : c.names) ASSERT_TRUE(settings.setLong("Transports\\Network", name, 1, 0));
        std::string transport;
        EXPECT_EQ(settings.getNetworkTransport(transport), 0u);
        EXPECT_EQ(transport, c.transport);
        recurseDeleteKey(local_ + "Transports", HKEY_LOCAL_MACHINE);
    }
    // Neither a name nor a qv__hbn*.dll in the system folder.
    Settings settings;
    std::string transport = "unchanged";
    EXPECT_EQ(settings.getNetworkTransport(transport), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_EQ(transport, "unchanged");
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, SupportedDevicesWithAPrefix) {
    Settings settings;
    std::vector<std::string> devices;
    EXPECT_EQ(settings.getSupportedDevices(devices, "abc"), static_cast<DWORD>(ERROR_NOT_FOUND));
    const std::string key = "Runtime\\SupportedDevices\\";
    ASSERT_TRUE(settings.setLong(key, "Abc123", 1, 0));
    ASSERT_TRUE(settings.setLong(key, "abc999", 0, 0));
    ASSERT_TRUE(settings.setString(key, "abc555", "1", 0));  // not a long: not listed
    ASSERT_TRUE(settings.setLong(key, "xyz1", 1, 0));
    EXPECT_EQ(settings.getSupportedDevices(devices, "abc"), 0u);
    EXPECT_EQ(devices, std::vector<std::string>{"123"});
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}

TEST_F(SettingsTest, UninstallKeepsTheVendorKeyWhileAnotherModuleRemains) {
    Settings settings;
    ASSERT_EQ(settings.createStore(), 0u);
    ASSERT_TRUE(settings.setLong("Settings\\", "x", 1, 0));
    RegistryKey64 other(storeRoot_ + "Local\\ot__\\", true, HKEY_LOCAL_MACHINE, kRegistryWriteAccess);
    EXPECT_FALSE(settings.deleteStore());
    EXPECT_FALSE(settings.storeExists());
    EXPECT_FALSE(keyExists(local_));
    EXPECT_TRUE(keyExists(storeRoot_ + "Local\\ot__"));
    EXPECT_TRUE(keyExists(vendorKey_));

    // The last module gone: the whole vendor key goes (DeleteStoreOnUninstall absent = 1).
    recurseDeleteKey(storeRoot_ + "Local\\ot__", HKEY_LOCAL_MACHINE);
    ASSERT_EQ(settings.createStore(), 0u);
    EXPECT_TRUE(settings.deleteStore());
    EXPECT_FALSE(keyExists(vendorKey_));
}

TEST_F(SettingsTest, UninstallWithoutDeleteStoreKeepsStoredPrinters) {
    Settings settings;
    ASSERT_TRUE(settings.setLong("Settings\\", "DeleteStoreOnUninstall", 0, 0));
    ASSERT_TRUE(settings.setLong("Ip1\\Settings\\", "NpaTimeout", 1, 1));
    ASSERT_TRUE(settings.setString("PrinterStore", "USB001", "x", 1));
    EXPECT_TRUE(settings.deleteStore());
    EXPECT_TRUE(keyExists(vendorKey_));
    EXPECT_FALSE(keyExists(storeRoot_ + "Shared\\Ip1\\Settings"));
    EXPECT_TRUE(keyExists(storeRoot_ + "Shared\\PrinterStore"));

    ASSERT_EQ(settings.deleteValue("PrinterStore", "USB001", 1), 0u);
    ASSERT_TRUE(settings.setLong("Settings\\", "DeleteStoreOnUninstall", 0, 0));
    EXPECT_TRUE(settings.deleteStore());
    EXPECT_FALSE(keyExists(vendorKey_));
}

TEST_F(SettingsTest, BasicStoreDeletion) {
    BasicSettings64 one(storeRoot_, "one", HKEY_LOCAL_MACHINE);
    BasicSettings64 two(storeRoot_, "two", HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(one.setLong("S", "v", 1, 0));
    ASSERT_TRUE(two.setLong("S", "v", 1, 0));
    EXPECT_FALSE(one.deleteStore());
    EXPECT_FALSE(keyExists(storeRoot_ + "Local\\one"));
    EXPECT_TRUE(keyExists(storeRoot_ + "Local\\two"));
    EXPECT_TRUE(two.deleteStore());
    EXPECT_FALSE(keyExists(storeRoot_));
    recurseDeleteKey(vendorKey_, HKEY_LOCAL_MACHINE);
}
