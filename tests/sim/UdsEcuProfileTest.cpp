#include "sim/uds/UdsEcuProfile.h"

#include <gtest/gtest.h>

namespace diagbridge::sim {
namespace {

TEST(UdsEcuProfileTest, ModelsComeFromTheEcusOwnTable) {
    struct Case {
        const char* model;
        uint8_t ecu;
        uint8_t tester;
        uint8_t session;
        uint8_t level;
        int64_t multiplier;
        int64_t addend;
    };
    const Case cases[] = {
        {"T60.1", 0x03, 0xF1, 0x02, 0x61, 3517, 2741},
        {"T60.1_UDS_D", 0x03, 0xF1, 0x03, 0x03, 3307, 1451},
        {"VOLTARIS_R61_MOTORCONTROLLER", 0xFA, 0xF1, 0x03, 0x07, 1453, 6421},
        {"VOLTARIS_R61_SAFETYCONTROLLER", 0xFA, 0xF2, 0x02, 0x61, 2371, 4093},
        {"TCX", 0x0F, 0xF1, 0x62, 0x65, 2311, 3733},
    };
    for (const Case& c : cases) {
        UdsEcuProfile profile;
        std::string error;
        ASSERT_TRUE(ProfileForModel(c.model, profile, error)) << error;
        EXPECT_EQ(profile.model, c.model);
        EXPECT_EQ(profile.ecuAddress, c.ecu) << c.model;
        EXPECT_EQ(profile.testerAddress, c.tester) << c.model;
        EXPECT_TRUE(profile.HasSession(c.session)) << c.model;
        const UdsKeyRule* rule = profile.KeyRule(c.session, c.level);
        ASSERT_NE(rule, nullptr) << c.model;
        EXPECT_EQ(rule->multiplier, c.multiplier) << c.model;
        EXPECT_EQ(rule->addend, c.addend) << c.model;
    }
    UdsEcuProfile tcx;
    std::string error;
    ASSERT_TRUE(ProfileForModel("TCX", tcx, error));
    EXPECT_FALSE(tcx.HasSession(0x40));
    EXPECT_EQ(tcx.KeyRule(0x02, 0x61), nullptr);
}

// Keys written down by hand: (seed x multiplier + addend) mod 65536 for a 2-byte seed, the
// low 32 bits for a 4-byte seed.
TEST(UdsEcuProfileTest, KeyRoutineKnownAnswers) {
    struct Case {
        UdsKeyRule rule;
        uint32_t seed;
        uint32_t key;
    };
    const Case cases[] = {
        {{0x02, 0x61, 3517, 2741, 2}, 0x1234, 0x1F19},      // 4660 x 3517 + 2741 = 16391961
        {{0x02, 0x61, 3517, 2741, 2}, 0x0000, 0x0AB5},      // the addend alone
        {{0x62, 0x65, 2311, 3733, 2}, 0xBEEF, 0xAE1E},      // 48879 x 2311 + 3733 = 112963102
        {{0x03, 0x05, 3, 1, 4}, 0x80000000u, 0x80000001u},  // 2^31 x 3 + 1, low 32 bits
        {{0x03, 0x05, 2083, 3919, 4}, 0x00010000u, 0x08230F4Fu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UdsKeyFor(c.rule, c.seed), c.key) << std::hex << c.seed;
    }
}

TEST(UdsEcuProfileTest, AModelTheTableDoesNotKnowIsReported) {
    UdsEcuProfile profile;
    std::string error;
    EXPECT_FALSE(ProfileForModel("NO_SUCH_MODEL", profile, error));
    EXPECT_EQ(error, "no UDS model \"NO_SUCH_MODEL\" in the virtual ECU's table");
}

}  // namespace
}  // namespace diagbridge::sim
