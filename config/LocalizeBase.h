#pragma once
// The branding record of a module: the names from which every branded name of the service is
// derived (registry store, service name, pipe and log file names). Filled once at construction
// and read-only afterwards, so it may be read from any thread without a lock. Construction
// failures raise Win32Exception.
#include "runtime/Win32.h"

#include <cstdint>
#include <string>

class LocalizeBase {
public:
    // Brands the given module (nullptr: the program) from the path GetModuleFileNameA reports.
    explicit LocalizeBase(HMODULE module);
    // Brands as though the module lived at modulePath (a program that brands itself from a
    // branding file elsewhere, such as a test run).
    LocalizeBase(HMODULE module, const std::string& modulePath);
    virtual ~LocalizeBase();

    // Whether a device described by deviceText (a 1284 id, a model name) belongs to this brand.
    virtual bool matchesBrand(const std::string& deviceText) const = 0;
    // The brand flag.
    virtual bool getLokiFlag(HMODULE module) const = 0;

    HMODULE module() const { return module_; }
    std::string getLocalId() const { return localId_; }
    std::string getModulePath() const { return modulePath_; }
    std::string getVendorRegistryName() const { return vendorRegistryName_; }
    std::string getManufacturerPrefix() const { return manufacturerPrefix_; }
    std::string getManufacturer() const { return manufacturer_; }
    std::string getManufacturerShortName() const { return manufacturerShortName_; }

    // "Software\" + VendorRegistryName.
    std::string getVendorKey() const;
    // The vendor key + "\Bcx\".
    std::string getStoreRoot() const;
    // Scope 0 (Local), 1 (Shared), else the fixed temporary path.
    std::string getScopePath(int scope) const;

protected:
    HMODULE module_;
    std::string localId_;
    std::string modulePath_;
    int32_t reserved_;
    std::string vendorRegistryName_;
    std::string manufacturerPrefix_;
    std::string manufacturer_;
    std::string manufacturerShortName_;
};

// The full path of a module (nullptr: the program). Raises Win32Exception with message on failure.
std::string moduleFileName(HMODULE module, const char* message);
