#include "config/RegistryKey.h"

#include "config/StorePaths.h"
#include "runtime/Exception.h"
#include "runtime/OsVersion.h"

#include <memory>

namespace {

// A wrong type is reported with a code of its own: the query itself succeeded, and a code of 0
// would let a settings caller read the failure as success.
const LONG kWrongType = ERROR_DATATYPE_MISMATCH;

// Registry paths are composed with a trailing "\"; the key name itself has none.
std::string keyName(const std::string& path) {
    std::string name = path;
    while (!name.empty() && name.back() == '\\') name.pop_back();
    return name;
}

[[noreturn]] void raise(const std::string& message, LONG code) { TOLVEX_THROW_WIN32(message, code); }

// Open, else (when asked) create; the class name goes into the messages.
UniqueRegKey openOrCreateKey(const char* cls, const std::string& path, bool create, HKEY root, REGSAM access,
                             SecurityEveryone& security) {
    const std::string name = keyName(path);
    UniqueRegKey key;
    LONG rc = RegOpenKeyExA(root, name.c_str(), 0, access, key.put());
    if (rc == ERROR_SUCCESS) return key;
    if (!create) raise(std::string(cls) + "::regOpenKeyEx()", rc);
    const std::string createFailed = std::string(cls) + "::regCreateKeyEx()";
    if (OsVersion::instance().isNtFamily()) {
        DWORD disposition = 0;
        rc = RegCreateKeyExA(root, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, security.attributes(),
                             key.put(), &disposition);
        if (rc != ERROR_SUCCESS) raise(createFailed, rc);
        return key;
    }
    // Systems outside the NT family have no security to apply; their registry creates one level
    // at a time reliably.
    std::string::size_type start = name.empty() || name[0] != '\\' ? 0 : 1;
    while (start <= name.size()) {
        std::string::size_type end = name.find('\\', start);
        if (end == std::string::npos) end = name.size();
        UniqueRegKey level;
        rc = RegCreateKeyExA(root, name.substr(0, end).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             level.put(), nullptr);
        if (rc != ERROR_SUCCESS) raise(createFailed, rc);
        start = end + 1;
    }
    rc = RegOpenKeyExA(root, name.c_str(), 0, access, key.put());
    if (rc != ERROR_SUCCESS) raise(std::string(cls) + "::regOpenKeyEx()", rc);
    return key;
}

bool readDword(const char* message, HKEY key, const std::string& name, uint32_t& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    if (rc == ERROR_MORE_DATA) raise(message + name + " : incorrect value type", kWrongType);
    if (rc != ERROR_SUCCESS) raise(message + name, rc);
    if (type != REG_DWORD || size != sizeof data) raise(message + name + " : incorrect value type", kWrongType);
    value = data;
    return true;
}

std::vector<std::string> enumerateValueNames(const char* message, HKEY key) {
    std::vector<std::string> names;
    // A value name may have up to 16383 characters; a smaller buffer would end the listing
    // with an error at the first long name.
    std::unique_ptr<char[]> buffer(new char[16384]);
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384;
        const LONG rc = RegEnumValueA(key, index, buffer.get(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) raise(message, rc);
        names.emplace_back(buffer.get(), length);
    }
    return names;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

RegistryKey::RegistryKey(const std::string& path, bool create, HKEY root, REGSAM access)
    : security_(true), access_(access) {
    openOrCreate(path, create, root);
}

RegistryKey::RegistryKey(HKEY existing) : key_(existing), security_(true), access_(kRegistryWriteAccess) {}

RegistryKey::~RegistryKey() = default;

void RegistryKey::setAccessMask(REGSAM access) { access_ = access; }

void RegistryKey::openOrCreate(const std::string& path, bool create, HKEY root) {
    key_ = openOrCreateKey("RegistryKey", path, create, root, access_, security_);
}

bool RegistryKey::getValue(const std::string& name, uint32_t& value) const {
    return readDword("RegistryKey::getValue(ulong)", key_.get(), name, value);
}

DWORD RegistryKey::getValueType(const std::string& name) const {
    DWORD type = 0;
    if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return 0;
    return type;
}

std::vector<std::string> RegistryKey::getValueNames() const {
    return enumerateValueNames("RegistryKey:getValueNames()", key_.get());
}

// ---------------------------------------------------------------------------------------------

RegistryKey64::RegistryKey64(const std::string& path, bool create, HKEY root, REGSAM access)
    : security_(true), access_(0) {
    setAccessMask(access);
    openOrCreate(path, create, root);
}

RegistryKey64::RegistryKey64(HKEY existing) : key_(existing), security_(true), access_(0) {
    setAccessMask(kRegistryWriteAccess);
}

RegistryKey64::~RegistryKey64() = default;

void RegistryKey64::setAccessMask(REGSAM access) {
    access_ = access;
    if (runningUnderWow64()) access_ |= KEY_WOW64_64KEY;
}

void RegistryKey64::openOrCreate(const std::string& path, bool create, HKEY root) {
    key_ = openOrCreateKey("RegistryKey64", path, create, root, access_, security_);
}

bool RegistryKey64::getValue(const std::string& name, uint32_t& value) const {
    return readDword("RegistryKey64::getValue(ulong)", key_.get(), name, value);
}

bool RegistryKey64::getValue(const std::string& name, std::string& value) const {
    const std::string first = "RegistryKey64::getValue(string) " + name;
    // The value may change between the size query and the read; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) return false;
        if (rc != ERROR_SUCCESS) raise(first, rc);
        if (type != REG_SZ && type != REG_EXPAND_SZ) raise(first + " : incorrect value type", kWrongType);
        // One byte more than stored, so that a value saved without its terminating zero still
        // reads whole.
        std::string buffer(size + 1, '\0');
        DWORD got = size;
        rc = RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_FILE_NOT_FOUND) return false;
        if (rc != ERROR_SUCCESS) raise("RegistryKey64::getValue() " + name, rc);
        if (type != REG_SZ && type != REG_EXPAND_SZ) raise(first + " : incorrect value type", kWrongType);
        buffer.resize(got);
        const std::string::size_type zero = buffer.find('\0');
        if (zero != std::string::npos) buffer.resize(zero);
        value = buffer;
        return true;
    }
    raise("RegistryKey64::getValue() " + name, ERROR_MORE_DATA);
}

bool RegistryKey64::getValue(const std::string& name, Data& value) const {
    const std::string message = "RegistryKey64::getValue(binary)" + name;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) return false;
        if (rc != ERROR_SUCCESS) raise(message, rc);
        if (type != REG_BINARY) raise(message + " : incorrect value type", kWrongType);
        std::vector<uint8_t> buffer(size);
        DWORD got = size;
        rc = RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, buffer.empty() ? nullptr : buffer.data(), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_FILE_NOT_FOUND) return false;
        if (rc != ERROR_SUCCESS) raise(message, rc);
        if (type != REG_BINARY) raise(message + " : incorrect value type", kWrongType);
        value.Clear();
        value.Append(buffer.data(), got);
        return true;
    }
    raise(message, ERROR_MORE_DATA);
}

void RegistryKey64::setValue(const std::string& name, uint32_t value) {
    const DWORD data = value;
    const LONG rc = RegSetValueExA(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                   sizeof data);
    if (rc != ERROR_SUCCESS) raise("RegistryKey64::setValue(ulong): Unable to set " + name, rc);
}

void RegistryKey64::setValue(const std::string& name, const std::string& value) {
    const LONG rc = RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS) raise("RegistryKey64::setValue(string): Unable to set " + name, rc);
}

void RegistryKey64::setValue(const std::string& name, const Data& value) {
    const LONG rc = RegSetValueExA(key_.get(), name.c_str(), 0, REG_BINARY, value.Bytes(), value.Size());
    if (rc != ERROR_SUCCESS) raise("RegistryKey64::setValue(binary): Unable to set " + name, rc);
}

void RegistryKey64::deleteValue(const std::string& name) {
    const LONG rc = RegDeleteValueA(key_.get(), name.c_str());
    if (rc != ERROR_SUCCESS) raise("RegistryKey64::deleteValue()", rc);
}

std::vector<std::string> RegistryKey64::getChildrenNames(size_t maxCount) const {
    std::vector<std::string> names;
    char buffer[261];
    for (DWORD index = 0; names.size() < maxCount; ++index) {
        DWORD length = sizeof buffer;
        const LONG rc = RegEnumKeyExA(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) raise("RegistryKey64::getChildrenNames()", rc);
        names.emplace_back(buffer, length);
    }
    return names;
}

std::vector<std::string> RegistryKey64::getValueNames() const {
    return enumerateValueNames("RegistryKey64:getValueNames()", key_.get());
}

// ---------------------------------------------------------------------------------------------

DWORD recurseDeleteKey(const std::string& path, HKEY root) {
    const std::string name = keyName(path);
    // An empty path would name the root itself and empty it.
    if (name.empty()) raise("RegistryKey64::recurseDeleteKey() RegOpenKey()", ERROR_INVALID_PARAMETER);
    const REGSAM view = runningUnderWow64() ? KEY_WOW64_64KEY : 0;
    {
        UniqueRegKey key;
        const LONG rc = RegOpenKeyExA(root, name.c_str(), 0, kRegistryWriteAccess | view, key.put());
        if (rc == ERROR_FILE_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
        if (rc != ERROR_SUCCESS) raise("RegistryKey64::recurseDeleteKey() RegOpenKey()", rc);
        char child[256];
        // Each deleted subkey moves the next one to the index; a subkey that cannot be reached by
        // the name the listing gives (2) is stepped over, so the loop always ends. The parent then
        // keeps a subkey and its own deletion reports the failure.
        for (DWORD index = 0;;) {
            DWORD length = sizeof child;
            if (RegEnumKeyExA(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (recurseDeleteKey(name + "\\" + std::string(child, length), root) == ERROR_FILE_NOT_FOUND) ++index;
        }
    }
    if (lowerAscii(name) == "software") return ERROR_SUCCESS;
    const LONG rc = RegDeleteKeyExA(root, name.c_str(), view, 0);
    if (rc != ERROR_SUCCESS) raise("RegistryKey64::recurseDeleteKey() RegDeleteKey()", rc);
    return ERROR_SUCCESS;
}
