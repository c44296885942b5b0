#pragma once
// The interpreters the service knows by protocol name and the rule that turns a library name
// into the file loaded. Portable and stateless.
#include <string>
#include <vector>

class InterpreterTable {
public:
    // "Npa", "Objectstore", "Esc", in the order they are tried.
    static std::vector<std::string> protocolNames();
    // The library short name of protocol ("ovra" for "Npa"), matched without regard to case;
    // empty when the table has no such protocol.
    static std::string shortName(const std::string& protocol);
    // Whether name is a bare file name: not empty, no "\", "/" or ":", no "..", no control
    // characters.
    static bool isPlainLibraryName(const std::string& name);
    // The file for libraryName in the folder of modulePath: that folder (up to and including its
    // last "\") + libraryName + ".dll". False, and fileName untouched, when libraryName is not a
    // plain name or modulePath names no folder.
    static bool libraryFileName(const std::string& modulePath, const std::string& libraryName,
                                std::string& fileName);
};
