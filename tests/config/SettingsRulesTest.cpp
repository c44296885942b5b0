#include "config/SettingsRules.h"

#include <gtest/gtest.h>

TEST(NetworkTransport, Hbn3WinsAndHbn1OnlyWhenAlone) {
    const struct {
        std::vector<std::string> names;
        const char* chosen;
    } cases[] = {
        {{"HBN1", "HBN3"}, "HBN3"},
        {{"HBN3", "HBN1"}, "HBN3"},
        {{"HBN1"}, "HBN1"},
        {{"Other", "HBN1", "More"}, "HBN1"},
        {{"hbn3", "hbn1"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(chooseNetworkTransport(c.names), c.chosen);
}

TEST(SupportedDevices, KeepsTheRestOfEnabledNamesWithThePrefix) {
    EXPECT_EQ(filterSupportedDevices({{"Abc123", true, 1}, {"abc999", true, 0}}, "abc"),
              std::vector<std::string>{"123"});
    EXPECT_EQ(filterSupportedDevices({{"ABCdef", true, 7}, {"xyzabc1", true, 1}, {"abc5", false, 1}, {"ab", true, 1},
                                      {"abc", true, 1}},
                                     "AbC"),
              (std::vector<std::string>{"def", ""}));
    EXPECT_EQ(filterSupportedDevices({{"Q1", true, 1}, {"q2", true, 1}}, ""), (std::vector<std::string>{"Q1", "q2"}));
    EXPECT_TRUE(filterSupportedDevices({}, "abc").empty());
}
