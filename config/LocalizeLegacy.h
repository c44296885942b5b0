#pragma once
// A branding taken from the built-in table by the first two letters of the module's local id;
// the short name stays empty. Raises Win32Exception only when the module path is unavailable.
#include "config/LocalizeBase.h"

class LocalizeLegacy : public LocalizeBase {
public:
    explicit LocalizeLegacy(HMODULE module);
    LocalizeLegacy(HMODULE module, const std::string& modulePath);

    bool matchesBrand(const std::string& deviceText) const override;
    // The table's flag for the local id of the given module (nullptr: the program).
    bool getLokiFlag(HMODULE module) const override;

private:
    void fillFromTable();
};
