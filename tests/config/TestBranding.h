#pragma once
// A branding of the test process's own: a folder under %TEMP% unique to this run, standing in
// for the program's folder, with a communicationconfig.xml naming a vendor unique to this run.
// Runs of several test processes at once (ctest -j) never share a file or a registry key.
// The destructor removes the folder and the vendor's registry key.
#include "config/RegistryKey.h"
#include "runtime/Win32.h"

#include <string>

class TestBranding {
public:
    TestBranding();
    ~TestBranding();
    TestBranding(const TestBranding&) = delete;
    TestBranding& operator=(const TestBranding&) = delete;

    // stem + this process's id + a tick count + a serial number, in hexadecimal.
    static std::string uniqueName(const std::string& stem);

    // Writes (replaces) the branding file beside modulePath().
    void writeConfig(const std::string& xml) const;
    void removeConfig() const;
    // The whole branding file for the run's vendor, with extra elements inside <config>.
    std::string configXml(const std::string& extra = std::string()) const;

    const std::string& folder() const { return folder_; }
    const std::string& vendor() const { return vendor_; }
    // A module name in the folder: "qv__cfgt.exe", local id "qv__".
    std::string modulePath() const { return folder_ + "qv__cfgt.exe"; }

private:
    std::string folder_;
    std::string vendor_;
};
