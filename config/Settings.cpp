#include "config/Settings.h"

#include "config/Localize.h"
#include "config/SettingsCall.h"
#include "config/SettingsRules.h"

namespace {
const size_t kMaxChildren = 100;

bool fileReadable(const std::string& path) {
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

std::string systemDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return std::string();
    return std::string(buffer, n) + "\\";
}
}  // namespace

Settings::Settings()
    : BasicSettings64(Localize::getInstance().getStoreRoot(), Localize::getInstance().getLocalId(),
                      HKEY_LOCAL_MACHINE),
      localize_(Localize::getInstance()),
      storeExists_(false) {
    storeExists_ = settingsCall(false, [&] {
        RegistryKey64 local(localize_.getScopePath(0), false, rootKey_, kRegistryWriteAccess);
        return true;
    });
}

std::string Settings::getBasePath(int scope) { return localize_.getScopePath(scope); }

bool Settings::storeExists() { return storeExists_; }

DWORD Settings::createStore() {
    storeExists_ = settingsCall(false, [&] {
        RegistryKey64 local(localize_.getScopePath(0), true, rootKey_, kRegistryWriteAccess);
        return true;
    });
    return storeExists_ ? ERROR_SUCCESS : ERROR_INTERNAL_ERROR;
}

bool Settings::getLokiFlag(HMODULE module) { return localize_.getLokiFlag(module); }

bool Settings::isInbox() {
    uint32_t inbox = 0;
    return readLong("Settings\\", "Inbox", inbox, 0) && inbox != 0;
}

DWORD Settings::getNetworkTransport(std::string& transport) {
    std::vector<std::string> names;
    getValueNames("Transports\\Network", names, 0);
    const std::string chosen = chooseNetworkTransport(names);
    if (!chosen.empty()) {
        transport = chosen;
        return ERROR_SUCCESS;
    }
    const std::string folder = systemDirectory();
    if (!folder.empty()) {
        const struct {
            const char* transport;
            const char* file;
        } candidates[] = {{"HBN3", "hbn3.dll"}, {"HBN1", "hbn1.dll"}};
        for (const auto& candidate : candidates) {
            if (fileReadable(folder + localize_.getLocalId() + candidate.file)) {
                transport = candidate.transport;
                return ERROR_SUCCESS;
            }
        }
    }
    return ERROR_NOT_FOUND;
}

DWORD Settings::getSupportedDevices(std::vector<std::string>& devices, const std::string& prefix) {
    const std::string subkey = "Runtime\\SupportedDevices\\";
    std::vector<std::string> names;
    if (!getValueNames(subkey, names, 0)) return ERROR_NOT_FOUND;
    std::vector<SupportedDeviceEntry> entries;
    for (const std::string& name : names) {
        SupportedDeviceEntry entry{name, false, 0};
        entry.present = readLong(subkey, name, entry.value, 0);
        entries.push_back(entry);
    }
    const std::vector<std::string> found = filterSupportedDevices(entries, prefix);
    devices.insert(devices.end(), found.begin(), found.end());
    return ERROR_SUCCESS;
}

bool Settings::deleteStore() {
    return settingsCall(false, [&] {
        uint32_t deleteVendorKey = 1;
        readLong("Settings\\", "DeleteStoreOnUninstall", deleteVendorKey, 0);

        recurseDeleteKey(getBasePath(0), rootKey_);
        storeExists_ = false;

        std::vector<std::string> modules;
        settingsCall(false, [&] {
            RegistryKey64 local(storeRoot_ + "Local", false, rootKey_, KEY_READ);
            modules = local.getChildrenNames(kMaxChildren);
            return true;
        });
        if (!modules.empty()) return false;

        recurseDeleteKey(storeRoot_ + "Shared\\Ip1\\Settings\\", rootKey_);
        const std::string vendorKey = localize_.getVendorKey();
        if (deleteVendorKey != 0) {
            recurseDeleteKey(vendorKey, rootKey_);
            return true;
        }
        std::vector<std::string> printers;
        std::vector<std::string> scanners;
        settingsCall(false, [&] {
            printers = RegistryKey64(storeRoot_ + "Shared\\PrinterStore", false, rootKey_, KEY_READ).getValueNames();
            return true;
        });
        settingsCall(false, [&] {
            scanners = RegistryKey64(storeRoot_ + "Shared\\ScannerStore", false, rootKey_, KEY_READ).getValueNames();
            return true;
        });
        if (printers.empty() && scanners.empty()) recurseDeleteKey(vendorKey, rootKey_);
        return true;
    });
}
