#include "ecu/CEcuVoltarisR61UdsIso14229.h"

#include <gtest/gtest.h>

#include "ecu/UdsModelTestSupport.h"

namespace diagbridge {
namespace {

using testing::MakeUdsModel;

TEST(VoltarisParameterTest, EcuFieldIsTheRequestIdentifier) {
    const auto ecu = MakeUdsModel(
        "VOLTARIS_R61_SAFETYCONTROLLER|ECU_TESTER_PHYSICAL=0x18DAFBF2,0x18DAF2FBh|"
        "ECU_FUNCTIONAL=18DBFFFBh");
    ASSERT_TRUE(ecu->IsCreated());
    const UdsParameterBlock& uds = ecu->Parameters().uds;
    EXPECT_EQ(uds.requestId, 0x18DAFBF2u);
    EXPECT_EQ(uds.responseId, 0x18DAF2FBu);
    EXPECT_EQ(uds.functionalId, 0x18DBFFFBu);
    EXPECT_EQ(ecu->GetParameterString().rfind(
                  "R6X|UDS_ISO_14229|ECU=0x18DAFBF2h|TESTER=0x18DAF2FBh|FECU=0x18DBFFFBh|", 0),
              0u);
    // The ident names the identifiers as the configuration does.
    ecu->SetAddressIdents(uds.requestId, uds.responseId);
    EXPECT_EQ(ecu->Ident(CEcu::kIdentEcuAddress), "0x18DAFBF2h");
    EXPECT_EQ(ecu->Ident(CEcu::kIdentTesterAddress), "0x18DAF2FBh");
}

TEST(VoltarisParameterTest, FamilyKeys) {
    EXPECT_FALSE(
        MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER|TESTER_FUNCTIONAL=0x18DBFFF1")->IsCreated());
    EXPECT_TRUE(
        MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER|ECU_FUNCTIONAL=0x18DBFFF1")->IsCreated());
    // The family keyword is not the controller's.
    EXPECT_FALSE(MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER")
                     ->ParseParameterString("VOLTARIS_R61|REBOOT=1") == 0);
}

TEST(VoltarisAccessTest, OrlanSequencesWithTheFamilyKeys) {
    const auto ecu = MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER");
    ASSERT_EQ(ecu->AccessCount(), 13);
    EXPECT_EQ(ecu->Access(4)->sessionRequest, "10 40");
    EXPECT_EQ(ecu->Access(9)->writeRequests[0], "2E F1 9A 01 02 03 04 FF 08 15 00 00 00");
    EXPECT_EQ(ecu->BuildAccessRequest(*ecu->Access(2), "67 61 12 34"), "27 62 A7 99");
    for (int32_t i = 0; i < 13; ++i) {
        EXPECT_EQ(ecu->Access(i)->keyMultiplier,
                  CEcuVoltarisR61UdsIso14229::kKeyConstants[static_cast<std::size_t>(i)].multiplier)
            << i;
    }
    // No memory area of its own.
    ecu->Upload().memoryLines = {"63 01"};
    EXPECT_EQ(ecu->BuildMemorySection(), "");
}

}  // namespace
}  // namespace diagbridge
