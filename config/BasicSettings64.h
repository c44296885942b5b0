#pragma once
// Settings kept under one registry store root, in two scopes: 0 (Local: the store root +
// "Local\" + instance name) and 1 (Shared: the store root + "Shared\"). Operations never raise
// (deleteKey excepted, see there): a failure returns false (or its code) and leaves its code as
// the thread's last error. An object holds no open key between calls; one thread uses it.
#include "config/RegistryKey.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <string>
#include <vector>

class BasicSettings64 {
public:
    BasicSettings64(const std::string& storeRoot, const std::string& instanceName, HKEY root);
    virtual ~BasicSettings64();

    // Get with default: false and nothing created when the store root cannot be opened for
    // reading; otherwise the stored value, or (absent or of another type) the default, which
    // is then written, key created as needed.
    virtual bool getBinary(const std::string& subkey, const std::string& name, Data& value, const Data& defaultValue,
                           int scope);
    // Empties value and fills it; absent: false, last error 1168.
    virtual bool readBinary(const std::string& subkey, const std::string& name, Data& value, int scope);
    virtual bool getLong(const std::string& subkey, const std::string& name, uint32_t& value, uint32_t defaultValue,
                         int scope);
    virtual bool readLong(const std::string& subkey, const std::string& name, uint32_t& value, int scope);
    virtual bool getString(const std::string& subkey, const std::string& name, std::string& value,
                           const std::string& defaultValue, int scope);
    // REG_SZ or REG_EXPAND_SZ, unexpanded.
    virtual bool readString(const std::string& subkey, const std::string& name, std::string& value, int scope);
    // Create the key as needed.
    virtual bool setString(const std::string& subkey, const std::string& name, const std::string& value, int scope);
    virtual bool setLong(const std::string& subkey, const std::string& name, uint32_t value, int scope);
    // Appends the key's value names; an empty subkey gives false at once.
    virtual bool getValueNames(const std::string& subkey, std::vector<std::string>& names, int scope);
    // Deletes the key and everything below it. The key must exist: the Win32Exception of opening
    // it reaches the caller; later failures give false.
    virtual bool deleteKey(const std::string& subkey, int scope);
    // 0, or the failure's code.
    virtual DWORD deleteValue(const std::string& subkey, const std::string& name, int scope);
    // Deletes this instance's Local key, and the whole store root once no instance is left.
    // True when the store root was deleted.
    virtual bool deleteStore();
    virtual std::string getBasePath(int scope);

    const std::string& storeRoot() const { return storeRoot_; }
    HKEY rootKey() const { return rootKey_; }

protected:
    // Whether the store root opens for reading.
    bool storeRootReadable();
    std::string keyPath(const std::string& subkey, int scope) { return getBasePath(scope) + subkey; }

    std::string storeRoot_;
    std::string instanceName_;
    HKEY rootKey_;
};
