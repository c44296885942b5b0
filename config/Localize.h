#pragma once
// The process-wide branding record. createInstance builds it once (from the branding file
// beside the module, else from the built-in table); getInstance hands it out and raises
// Win32Exception (code 0) while none exists; destroyInstance deletes it. Creation and
// destruction are serialised; callers make sure no thread still reads a record being destroyed.
#include "config/LocalizeBase.h"

#include <string>

class Localize {
public:
    // Later calls do nothing while a record exists. Raises when even the table branding fails
    // (the module path is unavailable).
    static void createInstance(HMODULE module);
    // The same, with the module taken to live at modulePath (branding file searched beside it).
    static void createInstance(HMODULE module, const std::string& modulePath);
    static LocalizeBase& getInstance();
    static bool exists();
    static void destroyInstance();
};
