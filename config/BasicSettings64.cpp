#include "config/BasicSettings64.h"

#include "config/SettingsCall.h"

namespace {
std::string withBackslash(std::string path) {
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}
const size_t kMaxChildren = 100;
}  // namespace

BasicSettings64::BasicSettings64(const std::string& storeRoot, const std::string& instanceName, HKEY root)
    : storeRoot_(withBackslash(storeRoot)), instanceName_(withBackslash(instanceName)), rootKey_(root) {}

BasicSettings64::~BasicSettings64() = default;

bool BasicSettings64::storeRootReadable() {
    return settingsCall(false, [&] {
        RegistryKey64 key(storeRoot_, false, rootKey_, KEY_READ);
        return true;
    });
}

bool BasicSettings64::getBinary(const std::string& subkey, const std::string& name, Data& value,
                                const Data& defaultValue, int scope) {
    if (!storeRootReadable()) return false;
    if (readBinary(subkey, name, value, scope)) return true;
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), true, rootKey_, kRegistryWriteAccess);
        key.setValue(name, defaultValue);
        value = defaultValue;
        return true;
    });
}

bool BasicSettings64::readBinary(const std::string& subkey, const std::string& name, Data& value, int scope) {
    value.Clear();
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), false, rootKey_, KEY_READ);
        if (key.getValue(name, value)) return true;
        SetLastError(ERROR_NOT_FOUND);
        return false;
    });
}

bool BasicSettings64::getLong(const std::string& subkey, const std::string& name, uint32_t& value,
                              uint32_t defaultValue, int scope) {
    if (!storeRootReadable()) return false;
    if (readLong(subkey, name, value, scope)) return true;
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), true, rootKey_, kRegistryWriteAccess);
        key.setValue(name, defaultValue);
        value = defaultValue;
        return true;
    });
}

bool BasicSettings64::readLong(const std::string& subkey, const std::string& name, uint32_t& value, int scope) {
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), false, rootKey_, KEY_READ);
        if (key.getValue(name, value)) return true;
        SetLastError(ERROR_NOT_FOUND);
        return false;
    });
}

bool BasicSettings64::getString(const std::string& subkey, const std::string& name, std::string& value,
                                const std::string& defaultValue, int scope) {
    if (!storeRootReadable()) return false;
    if (readString(subkey, name, value, scope)) return true;
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), true, rootKey_, kRegistryWriteAccess);
        key.setValue(name, defaultValue);
        value = defaultValue;
        return true;
    });
}

bool BasicSettings64::readString(const std::string& subkey, const std::string& name, std::string& value,
                                 int scope) {
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), false, rootKey_, KEY_READ);
        if (key.getValue(name, value)) return true;
        SetLastError(ERROR_NOT_FOUND);
        return false;
    });
}

bool BasicSettings64::setString(const std::string& subkey, const std::string& name, const std::string& value,
                                int scope) {
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), true, rootKey_, kRegistryWriteAccess);
        key.setValue(name, value);
        return true;
    });
}

bool BasicSettings64::setLong(const std::string& subkey, const std::string& name, uint32_t value, int scope) {
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), true, rootKey_, kRegistryWriteAccess);
        key.setValue(name, value);
        return true;
    });
}

bool BasicSettings64::getValueNames(const std::string& subkey, std::vector<std::string>& names, int scope) {
    if (subkey.empty()) return false;
    return settingsCall(false, [&] {
        RegistryKey64 key(keyPath(subkey, scope), false, rootKey_, KEY_READ);
        const std::vector<std::string> found = key.getValueNames();
        names.insert(names.end(), found.begin(), found.end());
        return true;
    });
}

bool BasicSettings64::deleteKey(const std::string& subkey, int scope) {
    const std::string path = keyPath(subkey, scope);
    // Raises for an absent key, on purpose: a caller that deletes a key it believes present
    // learns that it was not.
    RegistryKey64 existing(path, false, rootKey_, kRegistryWriteAccess);
    return settingsCall(false, [&] { return recurseDeleteKey(path, rootKey_) == ERROR_SUCCESS; });
}

DWORD BasicSettings64::deleteValue(const std::string& subkey, const std::string& name, int scope) {
    const DWORD code = settingsCall<DWORD>(ERROR_INTERNAL_ERROR, [&] {
        RegistryKey64 key(keyPath(subkey, scope), false, rootKey_, kRegistryWriteAccess);
        key.deleteValue(name);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    // The failure's own code, not the placeholder.
    if (code == ERROR_SUCCESS) return code;
    const DWORD lastError = GetLastError();
    return lastError != ERROR_SUCCESS ? lastError : ERROR_INTERNAL_ERROR;
}

bool BasicSettings64::deleteStore() {
    return settingsCall(false, [&] {
        if (instanceName_.empty()) return recurseDeleteKey(storeRoot_, rootKey_) == ERROR_SUCCESS;
        recurseDeleteKey(storeRoot_ + "Local\\" + instanceName_, rootKey_);
        std::vector<std::string> remaining;
        {
            RegistryKey64 local(storeRoot_ + "Local\\", false, rootKey_, KEY_READ);
            remaining = local.getChildrenNames(kMaxChildren);
        }
        if (!remaining.empty()) return false;
        return recurseDeleteKey(storeRoot_, rootKey_) == ERROR_SUCCESS;
    });
}

std::string BasicSettings64::getBasePath(int scope) {
    if (scope == 1) return storeRoot_ + "Shared\\";
    if (instanceName_.empty()) return storeRoot_;
    return storeRoot_ + "Local\\" + instanceName_;
}
