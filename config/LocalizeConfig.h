#pragma once
// A branding read from "communicationconfig.xml" beside the module. Construction raises
// Win32Exception (code 87 for a missing file or key) when the file cannot provide the record.
#include "config/ConfigurationFromHinge.h"
#include "config/LocalizeBase.h"

class LocalizeConfig : public LocalizeBase {
public:
    explicit LocalizeConfig(HMODULE module);
    LocalizeConfig(HMODULE module, const std::string& modulePath);

    bool matchesBrand(const std::string& deviceText) const override;
    // On when the file's "Loki" is exactly "1"; the module is not consulted.
    bool getLokiFlag(HMODULE module) const override;

private:
    void readConfiguration();

    ConfigurationFromHinge configuration_;
};
