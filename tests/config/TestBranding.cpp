#include "TestBranding.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <stdexcept>

std::string TestBranding::uniqueName(const std::string& stem) {
    static std::atomic<unsigned> serial{0};
    char text[48];
    std::snprintf(text, sizeof text, "%lx%lx%x", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), serial++);
    return stem + text;
}

TestBranding::TestBranding() : vendor_(uniqueName("TolvexTest")) {
    char temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, temp);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    folder_ = std::string(temp, n) + uniqueName("tolvex-config-") + "\\";
    if (!CreateDirectoryA(folder_.c_str(), nullptr)) throw std::runtime_error("cannot create " + folder_);
}

TestBranding::~TestBranding() {
    removeConfig();
    RemoveDirectoryA(folder_.c_str());
    try {
        recurseDeleteKey("Software\\" + vendor_, HKEY_LOCAL_MACHINE);
    } catch (...) {
    }
}

void TestBranding::writeConfig(const std::string& xml) const {
    std::ofstream file(folder_ + "communicationconfig.xml", std::ios::binary | std::ios::trunc);
    file << xml;
    if (!file) throw std::runtime_error("cannot write the branding file");
}

void TestBranding::removeConfig() const { DeleteFileA((folder_ + "communicationconfig.xml").c_str()); }

std::string TestBranding::configXml(const std::string& extra) const {
    return "<?xml version=\"1.0\"?>\r\n<config>\r\n"
           "  <VendorRegistryName>" + vendor_ + "</VendorRegistryName>\r\n"
           "  <ManufacturerPrefix>Qt</ManufacturerPrefix>\r\n"
           "  <Manufacturer>Testmaker </Manufacturer>\r\n"
           "  <ManufacturerShortName>" + vendor_ + "</ManufacturerShortName>\r\n" + extra +
           "</config>\r\n";
}
