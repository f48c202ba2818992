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

TEST(CEcuR6xKwp2000Test, MissingAddressPartsTakeTheR6xAddresses) {
    CEcuR60Kwp2000 ecu(nullptr, "R60|ECU_TESTER=,0xF1h");
    ASSERT_TRUE(ecu.IsCreated());
    EXPECT_EQ(ecu.Parameters().kwp.addressTable[0].ecuAddress, 0xEF);
    EXPECT_EQ(ecu.Parameters().kwp.addressTable[0].testerAddress, 0xF1);
    EXPECT_EQ(ecu.Parameters().kwp.addressCount, 1);
}

}  // namespace
}  // namespace diagbridge
