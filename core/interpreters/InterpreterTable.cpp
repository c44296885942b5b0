#include "core/interpreters/InterpreterTable.h"

#include <cctype>
#include <cstddef>

namespace {

struct Entry {
    const char* protocol;
    const char* shortName;
};

constexpr Entry kTable[] = {
    {"Npa", "ovra"},
    {"Objectstore", "tesk"},
    {"Esc", "ekta"},
};

bool equalsIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

std::vector<std::string> InterpreterTable::protocolNames() {
    std::vector<std::string> names;
    for (const Entry& entry : kTable) names.emplace_back(entry.protocol);
    return names;
}

std::string InterpreterTable::shortName(const std::string& protocol) {
    for (const Entry& entry : kTable) {
        if (equalsIgnoringCase(protocol, entry.protocol)) return entry.shortName;
    }
    return std::string();
}

bool InterpreterTable::isPlainLibraryName(const std::string& name) {
    // Any path component would let a registry value or a client's property text load code
    // from outside the program's folder, which only administrators can write.
    if (name.empty() || name.find("..") != std::string::npos) return false;
    for (const char c : name) {
        if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

bool InterpreterTable::libraryFileName(const std::string& modulePath, const std::string& libraryName,
                                       std::string& fileName) {
    if (!isPlainLibraryName(libraryName)) return false;
    // Without a folder LoadLibraryA would search the system's DLL path, current folder included.
    const std::string::size_type slash = modulePath.rfind('\\');
    if (slash == std::string::npos) return false;
    fileName = modulePath.substr(0, slash + 1) + libraryName + ".dll";
    return true;
}
