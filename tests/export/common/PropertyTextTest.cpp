#include "export/common/PropertyText.h"

#include <gtest/gtest.h>

namespace {

struct FindCase {
    const char* text;
    const char* name;
    bool found;
    const char* value;
};

TEST(FindElement, FindsFirstCompleteElement) {
    const FindCase cases[] = {
        {"<CommandName>endJob</CommandName><JobId>7</JobId>", "JobId", true, "7"},
        {"<CommandName>endJob</CommandName><JobId>7</JobId>", "CommandName", true, "endJob"},
        {"<A></A>", "A", true, ""},
        {"<A>1</A><A>2</A>", "A", true, "1"},
        {"<JobId attr=1>5</JobId>", "JobId", true, "5"},
        {"<JobId a=\"x\" b=2>55</JobId><X>1</X>", "JobId", true, "55"},
        {"<JobId>5", "JobId", false, ""},
        {"<JobId attr=1>5", "JobId", false, ""},
        {"<JobId attr=1", "JobId", false, ""},
        {"", "JobId", false, ""},
        {"<JobIdX>5</JobIdX>", "JobId", false, ""},
        {"<jobid>5</jobid>", "JobId", false, ""},
        // A closing tag before the opening tag must not yield a reversed range.
        {"</A>x<A>v</A>", "A", true, "v"},
        {"</A><A>v", "A", false, ""},
        {"</A><A x>v", "A", false, ""},
        // Values are verbatim, with no escaping.
        {"<S>a&b<c></S>", "S", true, "a&b<c>"},
    };
    for (const FindCase& c : cases) {
        std::string value = "unchanged";
        EXPECT_EQ(FindElement(c.text, c.name, value), c.found) << c.text;
        EXPECT_EQ(value, c.found ? c.value : "unchanged") << c.text;
    }
}

TEST(EraseElement, RemovesOnlyTheFirstPlainElement) {
    struct {
        const char* before;
        const char* name;
        const char* after;
    } cases[] = {
        {"<A>1</A><B>2</B>", "A", "<B>2</B>"},
        {"<B>2</B><A>1</A><C>3</C>", "A", "<B>2</B><C>3</C>"},
        {"<A>1</A><A>2</A>", "A", "<A>2</A>"},
        {"<A x=1>1</A>", "A", "<A x=1>1</A>"},
        {"<A>1", "A", "<A>1"},
        {"</A><A>1", "A", "</A><A>1"},
        {"<B>2</B>", "A", "<B>2</B>"},
    };
    for (const auto& c : cases) {
        std::string text = c.before;
        EraseElement(text, c.name);
        EXPECT_EQ(text, c.after) << c.before;
    }
}

TEST(SetElement, ReplacesAndAppendsAtTheEnd) {
    std::string text = "<JobId>1</JobId><Comp>x</Comp>";
    SetElement(text, "JobId", "2");
    EXPECT_EQ(text, "<Comp>x</Comp><JobId>2</JobId>");
    SetElement(text, "JobId", "3");
    EXPECT_EQ(text, "<Comp>x</Comp><JobId>3</JobId>");
    SetElement(text, "", "ignored");
    EXPECT_EQ(text, "<Comp>x</Comp><JobId>3</JobId>");
    std::string empty;
    SetElement(empty, "Vid", "");
    EXPECT_EQ(empty, "<Vid></Vid>");
}

}  // namespace
