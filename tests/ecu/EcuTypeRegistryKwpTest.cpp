#include <gtest/gtest.h>

#include "ecu/CEcuT6xKwp2000.h"
#include "ecu/EcuTypeRegistry.h"
#include "engine/CSoftwareInterface.h"

namespace diagbridge {
namespace {

TEST(KwpRegistryTest, RowsOfTheKwp2000Models) {
    const std::pair<const char*, const char*> rows[] = {
        {"T6X", "T6X"},
        {"T60", "T60"},
        {"T60.1", "T60.1"},
        {"T65", "T65"},
        {"T61", "T61"},
        {"R6X", "R6X"},
        {"R60", "R60"},
        {"LUMAXX", "LUMAXX"},
        {"LUMA_STANDARD", "LUMA_STANDARD"},
        {"LUMA_DAG", "LUMA_DAG"},
        {"LUMA_MAN_MARIVANE", "LUMA_MAN_MARIVANE"},
        {"LUMA_MAN_RETARDER", "LUMA_MAN_RETARDER"},
        {"LUMA_KODIERSTATION", "LUMA_KODIERSTATION"},
        {"LUMA_PROTOTYPE", "LUMA_PROTOTYPE"},
    };
    for (const auto& [keyword, objectType] : rows) {
        SCOPED_TRACE(keyword);
        const auto ecu =
            CreateEcuObject(EcuTypeTable(), keyword, kProtocolKwp2000, nullptr, keyword);
        ASSERT_NE(dynamic_cast<CEcuKwp2000*>(ecu.get()), nullptr);
        EXPECT_TRUE(ecu->IsCreated());
        EXPECT_EQ(ecu->Ident(CEcu::kIdentObjectType), objectType);
        for (int32_t protocol : {kProtocolUds, kProtocolKalidor, kProtocolIso9141}) {
            const auto other = CreateEcuObject(EcuTypeTable(), keyword, protocol, nullptr, keyword);
            EXPECT_EQ(dynamic_cast<CEcuKwp2000*>(other.get()), nullptr) << protocol;
        }
    }
}

TEST(KwpRegistryTest, T6xOnKwp2000IsTheKwp2000Model) {
    const auto ecu = CreateEcuObject(EcuTypeTable(), "T6X", kProtocolKwp2000, nullptr, "T6X");
    EXPECT_NE(dynamic_cast<CEcuT6xKwp2000*>(ecu.get()), nullptr);
    EXPECT_EQ(CreateEcuObject(EcuTypeTable(), "T6X", kProtocolIso9141, nullptr, "T6X"), nullptr);
    EXPECT_EQ(
        CreateEcuObject(EcuTypeTable(), "T60.1_UDS_B", kProtocolKwp2000, nullptr, "T60.1_UDS_B"),
        nullptr);
}

TEST(KwpRegistryTest, RejectedCreationStringLeavesTheModelNotCreated) {
    const auto ecu =
        CreateEcuObject(EcuTypeTable(), "T65", kProtocolKwp2000, nullptr, "T65|NOSUCHKEY=1");
    ASSERT_NE(ecu, nullptr);
    EXPECT_FALSE(ecu->IsCreated());
}

}  // namespace
}  // namespace diagbridge
