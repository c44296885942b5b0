#pragma once
// The settings of this module in the branded store (HKEY_LOCAL_MACHINE): scope 0 is the
// module's Local key, scope 1 the Shared key, both named by the branding record. Build one on
// the stack where needed and drop it afterwards; the branding record must exist (the
// constructor raises Win32Exception otherwise) and outlive the object.
#include "config/BasicSettings64.h"
#include "config/LocalizeBase.h"

class Settings : public BasicSettings64 {
public:
    Settings();

    // The uninstall clean-up: removes this module's Local key and, once no other module of the
    // family is left, the shared settings and (per "DeleteStoreOnUninstall", or when no printer
    // or scanner is stored) the whole vendor key. True when it got past the module check.
    bool deleteStore() override;
    std::string getBasePath(int scope) override;

    // Whether the Local key existed at construction or was made by createStore.
    virtual bool storeExists();
    // 0, or 1359 when the Local key cannot be created.
    virtual DWORD createStore();
    virtual bool getLokiFlag(HMODULE module);
    // "Inbox" under "Settings\" (scope 0) present and non-zero.
    virtual bool isInbox();
    // "HBN3" or "HBN1" from the names under "Transports\Network", else from which of
    // <local id>hbn3.dll / hbn1.dll the system folder holds. 0, or 1168 when neither.
    virtual DWORD getNetworkTransport(std::string& transport);
    // Appends the rest of every enabled device name under "Runtime\SupportedDevices\" that
    // begins with prefix (case ignored). 0, or 1168 when the key cannot be listed.
    virtual DWORD getSupportedDevices(std::vector<std::string>& devices, const std::string& prefix);

private:
    LocalizeBase& localize_;
    bool storeExists_;
};
