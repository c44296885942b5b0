#pragma once
// A file's version resource as GetFileVersionInfo reads it back: the fixed file and product
// versions as "a.b.c.d" and the English string values. valid is false when the file has none.
#include "runtime/Win32.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

struct FileVersion {
    bool valid = false;
    std::string fileVersion, productVersion;
    std::map<std::string, std::string> strings;
};

inline FileVersion readFileVersion(const std::string& path) {
    FileVersion result;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return result;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return result;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr) return result;
    const auto dotted = [](DWORD ms, DWORD ls) {
        char text[64];
        std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(ms)),
                      static_cast<unsigned long>(LOWORD(ms)), static_cast<unsigned long>(HIWORD(ls)),
                      static_cast<unsigned long>(LOWORD(ls)));
        return std::string(text);
    };
    result.fileVersion = dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    result.productVersion = dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "OriginalFilename", "ProductName",
                             "ProductVersion"}) {
        char* value = nullptr;
        if (VerQueryValueA(data.data(), (std::string("\\StringFileInfo\\040904B0\\") + name).c_str(),
                           reinterpret_cast<void**>(&value), &length) &&
            value != nullptr)
            result.strings[name] = std::string(value);
    }
    result.valid = true;
    return result;
}
