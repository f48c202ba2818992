#include "ecu/CEcuTCXUdsIso14229.h"

#include <gtest/gtest.h>

#include "ecu/UdsModelTestSupport.h"

namespace diagbridge {
namespace {

using testing::MakeUdsModel;

TEST(TcxAccessTest, FiveStepsAllEnabled) {
    const auto ecu = MakeUdsModel("TCX");
    ASSERT_EQ(ecu->AccessCount(), 5);
    const char* rows[5][3] = {
        {"10 02", "27 05", "27 06"}, {"10 03", "27 01", "27 02"}, {"10 60", "27 61", "27 62"},
        {"10 61", "27 63", "27 64"}, {"10 62", "27 65", "27 66"},
    };
    for (int32_t i = 0; i < 5; ++i) {
        const AccessStep& step = *ecu->Access(i);
        EXPECT_EQ(step.sessionRequest, rows[i][0]) << i;
        EXPECT_EQ(step.seedRequest, rows[i][1]) << i;
        EXPECT_EQ(step.keyRequestPrefix, rows[i][2]) << i;
        EXPECT_TRUE(step.enabled) << i;
        EXPECT_GT(step.keyMultiplier, 0) << i;
        EXPECT_EQ(step.writeRequests[0].empty(), i != 0) << i;
    }
    const std::string write = ecu->Access(0)->writeRequests[0];
    EXPECT_EQ(
        write.rfind("2E F1 5A 00 00 5B " + CEcuUdsModel::DateBinary(CEcuUdsModel::Today()), 0), 0u)
        << write;
    EXPECT_EQ(write.substr(write.size() - 11), "01 02 03 04");
}

TEST(TcxKeyTest, SeedLengthChoosesTheRoutine) {
    const auto ecu = MakeUdsModel("TCX");
    struct Case {
        int32_t step;
        const char* response;
        const char* request;
    };
    const Case cases[] = {
        {0, "67 05 12 34", "27 06 2C 6B"},
        {4, "67 65 FF FF", "27 66 05 8E"},
        {1, "67 01 12 34 56 78", "27 02 79 BE 00 E1"},
        {2, "67 61 FF FF FF FF", "27 62 00 00 04 44"},
        {3, "67 63 00 00 00 00", "27 64 00 00 0A 31"},
        {1, "67 01 12 34 56", ""},
        {1, "67 01 12 34 56 78 9A", ""},
        {1, "7F 27 35", ""},
        {1, "77 01 12 34", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ecu->BuildAccessRequest(*ecu->Access(c.step), c.response), c.request)
            << c.response;
    }
}

TEST(TcxUploadTest, IdentTableAndEepromSection) {
    const auto ecu = MakeUdsModel("TCX");
    const UdsParameterBlock& uds = ecu->Parameters().uds;
    EXPECT_EQ(uds.identHeading, "[Ident]|");
    ASSERT_EQ(uds.identTable.size(), 18u);
    EXPECT_EQ(uds.identTable.front().name, "Seriennummer");
    EXPECT_EQ(uds.identTable.front().request, "22 F1 8C");
    EXPECT_EQ(uds.identTable[5].name, "HerstelldatumHardware");
    EXPECT_EQ(uds.identTable[5].scaling, "A4_A2_A2_A2");
    EXPECT_EQ(uds.identTable[9].scaling, "H1_D2_D3_I4");
    EXPECT_EQ(uds.identTable.back().name, "VinCurrent");
    EXPECT_EQ(uds.identTable.back().request, "22 F1 A0");
    for (const UdsIdentEntry& entry : uds.identTable) {
        EXPECT_EQ(entry.request.rfind("22 F1 ", 0), 0u) << entry.name;
    }
    EXPECT_TRUE(uds.fingerprint60.empty());
    ecu->Upload().memoryLines = {"63 01 02 03 04"};
    EXPECT_EQ(ecu->BuildMemorySection().rfind("[EEPROM]|:020000040000FA|:04000000", 0), 0u);
}

}  // namespace
}  // namespace diagbridge
