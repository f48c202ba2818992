#include "sim/uds/UdsEcuProfile.h"

#include <gtest/gtest.h>

#include "ecu/CEcu.h"

namespace diagbridge::sim {
namespace {

// A model with the access table shapes of the T6x family.
class TableModel : public CEcu {
  public:
    TableModel() : CEcu(nullptr) {
        const AccessStep steps[] = {
            {"10 01", "", "", {"", "", ""}, 0, 0, true, 0},
            {"10 02", "27 61", "27 62", {"", "", ""}, 3, 5, true, 0},
            {"10 03", "27 61", "27 62", {"", "", ""}, 7, 11, true, 0},
            {"10 40", "27 61", "27 62", {"", "", ""}, 13, 17, false, 0},  // not enabled
            {"10 03", "27 01", "27 02", {"", "", ""}, 19, 23, true, 0},
            {"10 62", "27 65", "27 66", {"", "", ""}, 29, 31, true, 0},
            {"", "", "", {"", "", ""}, 0, 0, true, 0},
        };
        for (const AccessStep& step : steps) {
            accessTable_[static_cast<std::size_t>(accessCount_++)] = step;
        }
        parameters_.uds.requestId = 0x18DA0FF1;
        parameters_.uds.responseId = 0x18DAF10F;
    }
};

TEST(UdsEcuProfileTest, KeyRulesSessionsAndAddressesComeFromTheModel) {
    TableModel model;
    UdsEcuProfile profile = DefaultUdsEcuProfile();
    profile.sessions = {0x01};
    ApplyModel(model, profile);
    EXPECT_EQ(profile.ecuAddress, 0x0F);
    EXPECT_EQ(profile.testerAddress, 0xF1);
    ASSERT_EQ(profile.keyRules.size(), 4u);
    const UdsKeyRule* programming = profile.KeyRule(0x02, 0x61);
    ASSERT_NE(programming, nullptr);
    EXPECT_EQ(programming->multiplier, 3);
    EXPECT_EQ(programming->addend, 5);
    EXPECT_EQ(profile.KeyRule(0x03, 0x61)->multiplier, 7);
    EXPECT_EQ(profile.KeyRule(0x03, 0x01)->addend, 23);
    EXPECT_EQ(profile.KeyRule(0x40, 0x61), nullptr);
    EXPECT_TRUE(profile.HasSession(0x02));
    EXPECT_TRUE(profile.HasSession(0x62));
    EXPECT_FALSE(profile.HasSession(0x40));
}

TEST(UdsEcuProfileTest, AModelTheRegistryCannotBuildIsReported) {
    UdsEcuProfile profile;
    std::string error;
    EXPECT_FALSE(ProfileForModel("NO_SUCH_MODEL", profile, error));
    EXPECT_EQ(error, "no UDS model \"NO_SUCH_MODEL\" in the type registry");
}

}  // namespace
}  // namespace diagbridge::sim
