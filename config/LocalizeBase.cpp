#include "config/LocalizeBase.h"

#include "config/StorePaths.h"
#include "runtime/Exception.h"

std::string moduleFileName(HMODULE module, const char* message) {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    // A full buffer means the path was cut: a branding derived from a cut name would be wrong.
    if (n == 0 || n >= MAX_PATH) throw Win32Exception(message, 0);
    return std::string(path, n);
}

LocalizeBase::LocalizeBase(HMODULE module)
    : LocalizeBase(module, moduleFileName(module, "LocalizeConfig::LocalizeConfig(): GetModuleFileName failed")) {}

LocalizeBase::LocalizeBase(HMODULE module, const std::string& modulePath)
    : module_(module), modulePath_(modulePath), reserved_(0) {
    if (modulePath_.empty()) throw Win32Exception("Localize::Localize(): GetLocalId failed", 0);
    localId_ = computeLocalId(modulePath_);
}

LocalizeBase::~LocalizeBase() = default;

std::string LocalizeBase::getVendorKey() const { return vendorKeyPath(vendorRegistryName_); }
std::string LocalizeBase::getStoreRoot() const { return storeRootPath(vendorRegistryName_); }
std::string LocalizeBase::getScopePath(int scope) const {
    return scopePath(vendorRegistryName_, localId_, scope);
}
