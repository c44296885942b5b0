// The rule for callback pipe names, in both trees: a pipe inside "\\.\pipe\" on this computer.
#include "core/ipc/LocalPipeNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#ifdef _WIN32
#include "runtime/Win32.h"
#else
#include <unistd.h>
#endif

namespace {

std::string computerName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
#else
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
#endif
}

std::string flipCase(std::string text) {
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    }
    return text;
}

}  // namespace

TEST(LocalPipeNames, NamesStayInsideThePipeNamespace) {
    for (const std::string& name : std::vector<std::string>{"cb", "QvSim\\USB001\\PIPE01", "a.b", "...x", std::string(LocalPipeNames::kMaxPipeName, 'p')}) {
        EXPECT_TRUE(LocalPipeNames::isLocalPipeName(name)) << name;
    }
    for (const std::string& name : std::vector<std::string>{"", "\\x", "x\\", "a\\\\b", ".", "..", "a\\..\\..\\b", "a\\.\\b", "a/b", "C:x",
                                   "a\tb", std::string("a\0b", 3), std::string(LocalPipeNames::kMaxPipeName + 1, 'p')}) {
        EXPECT_FALSE(LocalPipeNames::isLocalPipeName(name)) << name;
    }
}

TEST(LocalPipeNames, OnlyThisComputerWhateverTheCase) {
    EXPECT_TRUE(LocalPipeNames::isThisComputer(""));
    EXPECT_TRUE(LocalPipeNames::isThisComputer("."));
    const std::string name = computerName();
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(LocalPipeNames::isThisComputer(name));
    EXPECT_TRUE(LocalPipeNames::isThisComputer(flipCase(name)));
    EXPECT_FALSE(LocalPipeNames::isThisComputer(name + "x"));
    EXPECT_FALSE(LocalPipeNames::isThisComputer(name.substr(0, name.size() - 1)));
    EXPECT_FALSE(LocalPipeNames::isThisComputer(".."));
}

TEST(LocalPipeNames, AnEndpointTextNeedsALocalPipeOnThisComputer) {
    EXPECT_TRUE(LocalPipeNames::namesLocalPipe("<PIPENAME>cb</PIPENAME>"));
    EXPECT_TRUE(LocalPipeNames::namesLocalPipe("<HOSTNAME>.</HOSTNAME><PIPENAME>cb\\one</PIPENAME>"));
    EXPECT_TRUE(LocalPipeNames::namesLocalPipe("<HOSTNAME>" + computerName() + "</HOSTNAME><PIPENAME>cb</PIPENAME>"));
    EXPECT_FALSE(LocalPipeNames::namesLocalPipe("<HOSTNAME>" + computerName() + "x</HOSTNAME><PIPENAME>cb</PIPENAME>"));
    EXPECT_FALSE(LocalPipeNames::namesLocalPipe("<HOSTNAME>.</HOSTNAME>"));
    EXPECT_FALSE(LocalPipeNames::namesLocalPipe("<PIPENAME>..\\x</PIPENAME>"));
    EXPECT_FALSE(LocalPipeNames::namesLocalPipe(""));
}
