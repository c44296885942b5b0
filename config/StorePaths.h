#pragma once
// Names derived from a module's file name and a branding record: the local id, the branding
// file beside the module, and the registry paths of the store. Portable, no OS calls.
#include <string>

// Lower-cases A to Z only, leaving every other byte as it is.
std::string lowerAscii(std::string text);

// The module's local id: the lower-cased file name after the last "\" with everything from four
// characters before its last "." removed ("c:\x\ABCD__WXYZ.DLL" -> "abcd__"); empty when fewer
// than four characters precede the dot; at most 255 characters.
std::string computeLocalId(const std::string& modulePath);

// The branding file: the module's folder (up to and including the last "\") + "communicationconfig.xml".
std::string configFilePath(const std::string& modulePath);

// "Software\" + vendor.
std::string vendorKeyPath(const std::string& vendorRegistryName);
// The vendor key + "\Bcx\".
std::string storeRootPath(const std::string& vendorRegistryName);
// Scope 0: store root + "Local\" + local id + "\"; scope 1: store root + "Shared\";
// any other scope: "Software\QuorvelTemp\temp".
std::string scopePath(const std::string& vendorRegistryName, const std::string& localId, int scope);
