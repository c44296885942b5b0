#include "core/interpreters/InterpreterTable.h"

#include <gtest/gtest.h>

namespace {

TEST(InterpreterTable, ProtocolsAndShortNames) {
    EXPECT_EQ(InterpreterTable::protocolNames(), (std::vector<std::string>{"Npa", "Objectstore", "Esc"}));
    const struct {
        const char* protocol;
        const char* shortName;
    } cases[] = {{"Npa", "ovra"}, {"npa", "ovra"}, {"NPA", "ovra"}, {"objectSTORE", "tesk"},
                 {"Esc", "ekta"}, {"Np", ""},       {"Npax", ""},    {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(InterpreterTable::shortName(c.protocol), c.shortName) << c.protocol;
}

TEST(InterpreterTable, OnlyPlainNamesFromTheProgramsFolder) {
    const std::string program = "C:\\Program Files\\Qv\\qv__tolvex.exe";
    const struct {
        const char* library;
        bool accepted;
        const char* file;
    } cases[] = {
        {"Qv__ovra", true, "C:\\Program Files\\Qv\\Qv__ovra.dll"},
        {"my.interp", true, "C:\\Program Files\\Qv\\my.interp.dll"},
        {"", false, ""},
        {"..\\evil", false, ""},
        {"..", false, ""},
        {"a..b", false, ""},
        {"sub\\Qv__ovra", false, ""},
        {"sub/Qv__ovra", false, ""},
        {"C:evil", false, ""},
        {"C:\\temp\\evil", false, ""},
        {"\\\\server\\share\\evil", false, ""},
        {"evil\t", false, ""},
    };
    for (const auto& c : cases) {
        std::string file = "untouched";
        EXPECT_EQ(InterpreterTable::libraryFileName(program, c.library, file), c.accepted) << c.library;
        EXPECT_EQ(file, c.accepted ? c.file : "untouched") << c.library;
    }
    std::string file = "untouched";
    // No folder to load from: the system's search path is never used.
    EXPECT_FALSE(InterpreterTable::libraryFileName("", "Qv__ovra", file));
    EXPECT_FALSE(InterpreterTable::libraryFileName("tolvex.exe", "Qv__ovra", file));
    EXPECT_EQ(file, "untouched");
}

}  // namespace
