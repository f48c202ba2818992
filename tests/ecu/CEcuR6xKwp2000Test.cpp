#include "ecu/CEcuR6xKwp2000.h"

#include <gtest/gtest.h>

namespace diagbridge {
namespace {

TEST(CEcuR6xKwp2000Test, IdentLinesCarryDates) {
    CEcuR60Kwp2000 ecu(nullptr, "R60");
    KwpUploadValues& values = ecu.KwpUpload();
    values.ident.push_back({0x8F, "20240307", true});
    values.ident.push_back({0x8F, "2024-03-07", true});
    values.ident.push_back({0x99, "", true});
    values.ident.push_back({0x99, "2024", true});
    values.ident.push_back({0x93, "20240307", true});
    EXPECT_EQ(ecu.BuildIdentSection(),
              "[IdentMem]|Scaling=\"A\"|Ident8F=[\"2024-03-07\"]|Ident8F=[\"2024-03-07\"]|"
              "Ident99=[\"0000-00-00\"]|Ident99=[\"2024\"]|Ident93=[\"20240307\"]|");
}

// A missing part of ECU_TESTER takes 0x18 / 0xFA as in every KWP2000 model, not the R60's
// own default ECU address.
TEST(CEcuR6xKwp2000Test, MissingAddressPartsTakeTheKwpDefaults) {
    const struct {
        const char* parameter;
        uint8_t ecu;
        uint8_t tester;
    } cases[] = {
        {"R60|ECU_TESTER=,0xF1h", 0x18, 0xF1},
        {"R60|ECU_TESTER=0x20h", 0x20, 0xFA},
        {"R60|ECU_TESTER=,", 0x18, 0xFA},
    };
    for (const auto& c : cases) {
        CEcuR60Kwp2000 ecu(nullptr, c.parameter);
        ASSERT_TRUE(ecu.IsCreated()) << c.parameter;
        EXPECT_EQ(ecu.Parameters().kwp.addressTable[0].ecuAddress, c.ecu) << c.parameter;
        EXPECT_EQ(ecu.Parameters().kwp.addressTable[0].testerAddress, c.tester) << c.parameter;
        EXPECT_EQ(ecu.Parameters().kwp.addressCount, 1) << c.parameter;
    }
    EXPECT_EQ(CEcuR60Kwp2000(nullptr, "R60").Parameters().kwp.ecuAddress, 0xEF);
}

}  // namespace
}  // namespace diagbridge
