#include "engine/ParameterString.h"

#include <gtest/gtest.h>

#include <map>

#include "support/FakeProtocol.h"

namespace diagbridge {
namespace {

TEST(ParameterStringTest, GrammarOfTokens) {
    struct Case {
        const char* text;
        int32_t result;
        std::map<std::string, std::string> pairs;
    };
    const Case cases[] = {
        {"FAKE", 0, {}},
        {"FAKE|", 0, {}},                                   // trailing bar
        {"|FAKE||A=1||B=2|", 0, {{"A", "1"}, {"B", "2"}}},  // empty tokens skipped
        {"FAKE|NOEQUALS|A=x=y", 0, {{"A", "x=y"}}},         // value after the first "="
        {"fake|A=1", -3, {}},                               // keyword is case-sensitive
        {"FAKEX", -3, {}},
        {"", -3, {}},
        {"FAKE|A=1|BAD=1|B=2", -3, {{"A", "1"}}},  // settings before the rejection stay
    };
    for (const Case& c : cases) {
        std::map<std::string, std::string> seen;
        const int32_t result =
            ParseParameterString(c.text, "FAKE", [&](const std::string& k, const std::string& v) {
                if (k == "BAD") return -3;
                seen[k] = v;
                return 0;
            });
        EXPECT_EQ(result, c.result) << c.text;
        EXPECT_EQ(seen, c.pairs) << c.text;
    }
}

TEST(ParameterStringTest, NumbersAndSwitches) {
    EXPECT_EQ(ReadDecimal("12abc"), 12);
    EXPECT_EQ(ReadDecimal("abc"), 0);
    EXPECT_EQ(ReadDecimal("-1"), -1);
    EXPECT_EQ(ReadDecimal("99999999999"), 2147483647);
    EXPECT_EQ(StripBlanks(" 1 0 "), "10");
    EXPECT_TRUE(ReadSwitch("1"));
    EXPECT_TRUE(ReadSwitch(" 1 "));
    // Decimal with leading digits counting, as every number of a parameter string.
    EXPECT_TRUE(ReadSwitch("01"));
    EXPECT_TRUE(ReadSwitch("1x"));
    EXPECT_TRUE(ReadSwitch("0 1"));
    EXPECT_FALSE(ReadSwitch("2"));
    EXPECT_FALSE(ReadSwitch("10"));
    EXPECT_FALSE(ReadSwitch("on"));
    EXPECT_EQ(ParameterKeyword("||KWP2000|RS232=1"), "KWP2000");
}

TEST(ParameterStringTest, CommunicationObjectKeys) {
    struct Case {
        const char* text;
        bool accepted;
        const char* configuration;
    };
    const Case cases[] = {
        {"FAKE", true, "FAKE|PORT=0|TRACE=0|PROGRESS=0|STATUS=0"},
        {"FAKE|TRACE=1|PORT= 1 2|", true, "FAKE|PORT=12|TRACE=1|PROGRESS=0|STATUS=0"},
        {"FAKE|TRACE=2|PROGRESS=yes|STATUS=1", true, "FAKE|PORT=0|TRACE=0|PROGRESS=0|STATUS=1"},
        {"FAKE|trace=1", false, nullptr},  // keys are case-sensitive
        {"FAKE|UNKNOWN=1", false, nullptr},
    };
    for (const Case& c : cases) {
        testing::FakeProtocol object(nullptr, c.text);
        EXPECT_EQ(object.ParametersAccepted(), c.accepted) << c.text;
        if (c.configuration) {
            EXPECT_EQ(object.GetParameterString(), c.configuration) << c.text;
        }
    }
}

}  // namespace
}  // namespace diagbridge
