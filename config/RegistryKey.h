#pragma once
// Open registry keys. Both wrappers open a key under a root with an access mask and, when asked,
// create it with a DACL that grants every user access (a key created by the service must stay
// usable by the programs of every user). Each object is used by one thread. Failed registry
// calls raise Win32Exception with the call's result as the code; an absent value is no error:
// the read returns false. RegistryKey64 also reaches the 64-bit view from a 32-bit build.
#include "export/common/Data.h"
#include "runtime/Security.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <string>
#include <vector>

// What the settings operations open keys with: query and set value, create and enumerate
// subkeys, notify.
constexpr REGSAM kRegistryWriteAccess = 0x1F;

class RegistryKey {
public:
    // Opens path under root; if that fails and create is set, creates it. Raises
    // "RegistryKey::regOpenKeyEx()" or "RegistryKey::regCreateKeyEx()".
    RegistryKey(const std::string& path, bool create, HKEY root, REGSAM access);
    // Owns a key opened elsewhere; access kRegistryWriteAccess.
    explicit RegistryKey(HKEY existing);
    virtual ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    virtual void setAccessMask(REGSAM access);
    virtual void openOrCreate(const std::string& path, bool create, HKEY root);

    // A REG_DWORD value; false when absent, raises for any other failure or type.
    bool getValue(const std::string& name, uint32_t& value) const;
    // The value's registry type, 0 when it cannot be queried.
    DWORD getValueType(const std::string& name) const;
    // Every value name in enumeration order.
    std::vector<std::string> getValueNames() const;

    HKEY handle() const { return key_.get(); }

private:
    UniqueRegKey key_;
    SecurityEveryone security_;
    REGSAM access_;
};

class RegistryKey64 {
public:
    // As RegistryKey, with the messages "RegistryKey64::regOpenKeyEx()" and
    // "RegistryKey64::regCreateKeyEx()".
    RegistryKey64(const std::string& path, bool create, HKEY root, REGSAM access);
    explicit RegistryKey64(HKEY existing);
    virtual ~RegistryKey64();
    RegistryKey64(const RegistryKey64&) = delete;
    RegistryKey64& operator=(const RegistryKey64&) = delete;

    // Adds KEY_WOW64_64KEY when the process runs under WOW64.
    virtual void setAccessMask(REGSAM access);
    virtual void openOrCreate(const std::string& path, bool create, HKEY root);

    // Reads: false when absent; raise on any other failure or a wrong type.
    bool getValue(const std::string& name, uint32_t& value) const;
    // REG_SZ or REG_EXPAND_SZ, returned as stored (not expanded), without the terminating zero.
    bool getValue(const std::string& name, std::string& value) const;
    // REG_BINARY: value is emptied (status and count zeroed) and filled with the bytes.
    bool getValue(const std::string& name, Data& value) const;
    void setValue(const std::string& name, uint32_t value);
    void setValue(const std::string& name, const std::string& value);
    // Writes value's remaining bytes (from its cursor).
    void setValue(const std::string& name, const Data& value);
    void deleteValue(const std::string& name);
    // At most maxCount subkey names, in enumeration order.
    std::vector<std::string> getChildrenNames(size_t maxCount) const;
    std::vector<std::string> getValueNames() const;

    HKEY handle() const { return key_.get(); }
    REGSAM accessMask() const { return access_; }

private:
    UniqueRegKey key_;
    SecurityEveryone security_;
    REGSAM access_;
};

// Deletes path under root with all its subkeys. Returns 2 without raising when the key does not
// exist, else 0; a key named "SOFTWARE" (any case) is emptied but kept. Other failures raise
// "RegistryKey64::recurseDeleteKey() RegOpenKey()" / "... RegDeleteKey()".
DWORD recurseDeleteKey(const std::string& path, HKEY root);
