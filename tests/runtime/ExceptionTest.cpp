#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Exception, CodeTextIsDecimalOrEmpty) {
    EXPECT_EQ(Exception("m", 0).codeText(), "");
    EXPECT_EQ(Exception("m", 1460).codeText(), "1460");
    EXPECT_EQ(Exception("m", -5).codeText(), "-5");
}

TEST(Exception, CarriesMessageCodeFileAndLine) {
    try {
        TOLVEX_THROW_WIN32("Event::wait() failed", 6);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Event::wait() failed");
        EXPECT_EQ(e.code(), 6);
        EXPECT_NE(e.file().find("ExceptionTest.cpp"), std::string::npos);
        EXPECT_GT(e.line(), 0);
    }
}

TEST(Win32Exception, CodeTextStartsWithWin32AndCodeWithoutSeparator) {
    EXPECT_EQ(Win32Exception("m", 0).codeText(), "");
    const std::string text = Win32Exception("m", 5).codeText();
    ASSERT_EQ(text.rfind("Win32(5", 0), 0u) << text;
    EXPECT_EQ(text, "Win32(5" + systemMessageText(5));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);
#ifdef _WIN32
    // The system's wording differs between versions ("Access is denied.", "Access denied."), but
    // it starts right after the digit, without a parenthesis or blank.
    ASSERT_GT(text.size(), std::string("Win32(5").size()) << "the system text for code 5 is missing";
    EXPECT_EQ(text.substr(7, 6), "Access") << text;
#endif
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CriticalSection section;
    int counter = 0;
    {
        CriticalSectionLock outer(section);
        CriticalSectionLock inner(section);  // a second entry on the same thread must not block
        counter = 1;
    }
    std::thread t[2];
    for (auto& th : t)
        th = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                CriticalSectionLock lock(section);
                ++counter;
            }
        });
    for (auto& th : t) th.join();
    EXPECT_EQ(counter, 20001);
}

#ifdef _WIN32
TEST(Win32Exception, CodeWithoutSystemTextNamesTheLookupFailure) {
    // Bit 29 marks application-defined codes: the system's table has no text for them.
    const std::string text = Win32Exception("m", 0x20001234).codeText();
    const std::string expected = "Win32(536875572Error getting message:";
    ASSERT_EQ(text.rfind(expected, 0), 0u) << text;
    EXPECT_GT(std::stoul(text.substr(expected.size())), 0ul) << text;
}
#endif
