#include "sim/uds/UdsFaultPlan.h"

#include <gtest/gtest.h>

namespace diagbridge::sim {
namespace {

TEST(UdsFaultPlanTest, ParsesEveryKindAndRejectsMalformedTexts) {
    struct Case {
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {"nrc:22:31", true},       {"nrc:36:72@3", true},
        {"silent:36@2", true},     {"silent:3E", true},
        {"pending:31:3", true},    {"pending:31:3:200", true},
        {"drop-cf:2", true},       {"bad-sn:1", true},
        {"fc-wait:4", true},       {"fc-overflow", true},
        {"nrc:22", false},         {"nrc:122:31", false},
        {"nrc:22:31:1", false},    {"silent:36@0", false},
        {"silent:36@x", false},    {"pending:31", false},
        {"pending:31:-1", false},  {"drop-cf", false},
        {"drop-cf:2@3", false},    {"fc-overflow:1", false},
        {"bogus:1", false},        {"", false},
        {"foreign:22:7E00", true}, {"foreign:22:7F3E11@2", true},
        {"foreign:22", false},     {"foreign:22:7E0", false},
        {"foreign:22:XY", false},
    };
    for (const Case& c : cases) {
        UdsFaultPlan plan;
        std::string error;
        EXPECT_EQ(ParseUdsFault(c.text, plan, error), c.accepted) << c.text;
        EXPECT_EQ(error.empty(), c.accepted) << c.text;
    }
}

TEST(UdsFaultPlanTest, FaultsApplyFromTheirRequestOn) {
    UdsFaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseUdsFault("nrc:36:72@3", plan, error));
    ASSERT_TRUE(ParseUdsFault("pending:36:2:10", plan, error));
    ASSERT_TRUE(ParseUdsFault("silent:36@5", plan, error));
    ASSERT_TRUE(ParseUdsFault("fc-wait:2", plan, error));
    EXPECT_EQ(plan.transport.flowControlWaits, 2u);
    struct Expected {
        bool silent;
        int16_t negative;
    };
    const Expected expected[] = {
        {false, -1}, {false, -1}, {false, 0x72}, {false, 0x72}, {true, 0x72}};
    for (const Expected& e : expected) {
        const UdsFaultAction action = plan.OnRequest(0x36);
        EXPECT_EQ(action.silent, e.silent);
        EXPECT_EQ(action.negativeCode, e.negative);
        EXPECT_EQ(action.pendingCount, 2u);
        EXPECT_EQ(action.pendingIntervalMs, 10u);
    }
    EXPECT_EQ(plan.OnRequest(0x22).negativeCode, -1);  // other services are untouched
}

TEST(UdsFaultPlanTest, ForeignAnswerReplacesTheServiceAnswer) {
    UdsFaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseUdsFault("foreign:22:7F3E11@2", plan, error));
    EXPECT_TRUE(plan.OnRequest(0x22).foreignAnswer.empty());
    EXPECT_EQ(plan.OnRequest(0x22).foreignAnswer, (std::vector<uint8_t>{0x7F, 0x3E, 0x11}));
}

TEST(UdsFaultPlanTest, AMalformedTransportFaultLeavesThePlanAlone) {
    UdsFaultPlan plan;
    std::string error;
    EXPECT_FALSE(ParseUdsFault("drop-cf:999999999", plan, error));
    EXPECT_EQ(plan.transport.dropConsecutiveFrame, 0u);
}

}  // namespace
}  // namespace diagbridge::sim
