#include "ecu/CEcuLuma.h"

#include <gtest/gtest.h>

#include "ecu/KwpStandIn.h"

namespace diagbridge {
namespace {

using testing::KwpStandIn;

TEST(CEcuLumaTest, ReportsLumaxxButAcceptsOnlyItsOwnKeyword) {
    CEcuLumaManRetarder retarder(nullptr, "LUMA_MAN_RETARDER|P2MIN=8");
    ASSERT_TRUE(retarder.IsCreated());
    const std::string reported = retarder.GetParameterString();
    EXPECT_EQ(reported.rfind("LUMAXX|KWP2000|ECU=0x2Dh|TESTER=0xF0h|P2MIN=8|", 0), 0u);
    EXPECT_FALSE(CEcuLumaManRetarder(nullptr, reported).IsCreated());
    EXPECT_FALSE(CEcuLumaXX(nullptr, "LUMA_MAN_RETARDER").IsCreated());
}

TEST(CEcuLumaTest, EveryFurtherTokenMustBeKeyValue) {
    EXPECT_FALSE(CEcuLumaStandard(nullptr, "LUMA_STANDARD|KWP2000").IsCreated());
    EXPECT_FALSE(CEcuLumaStandard(nullptr, "LUMA_STANDARD|NOSUCHKEY=1").IsCreated());
    EXPECT_TRUE(CEcuLumaStandard(nullptr, "LUMA_STANDARD|SERVICEJOB=1").IsCreated());
}

TEST(CEcuLumaTest, FramKeysAreHexAndMoveTheMemorySection) {
    CEcuLumaDAG ecu(nullptr, "LUMA_DAG|FRAMADR=800100|FRAMSIZE=0x400h");
    ASSERT_TRUE(ecu.IsCreated());
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    EXPECT_EQ(kwp.framAddress, 0x800100u);
    EXPECT_EQ(kwp.framSize, 0x400u);
    EXPECT_EQ(kwp.uploadStart, 0x800100u);
    EXPECT_EQ(kwp.uploadLength, 0x400u);
    EXPECT_EQ(kwp.memoryMapIdentifier, 0x04);
    EXPECT_FALSE(CEcuLumaDAG(nullptr, "LUMA_DAG|FRAMADR=80010G").IsCreated());
}

TEST(CEcuLumaTest, AddressPairsReplaceTheDefaults) {
    CEcuLumaXX ecu(nullptr, "LUMAXX|ECU_TESTER=0x2Ch|ECU_TESTER=,0xFDh");
    ASSERT_TRUE(ecu.IsCreated());
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    EXPECT_EQ(kwp.addressCount, 2);
    EXPECT_EQ(kwp.addressTable[0].ecuAddress, 0x2C);
    EXPECT_EQ(kwp.addressTable[0].testerAddress, 0xF0);
    EXPECT_EQ(kwp.addressTable[1].ecuAddress, 0x29);
    EXPECT_EQ(kwp.addressTable[1].testerAddress, 0xFD);
    EXPECT_TRUE(kwp.scanAllAddresses);
}

TEST(CEcuLumaTest, DefaultAddressTableOfLumaxx) {
    CEcuLumaXX ecu(nullptr, "LUMAXX");
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    const uint8_t ecus[] = {0x29, 0x2C, 0x2D, 0x2F, 0xFF};
    ASSERT_EQ(kwp.addressCount, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(kwp.addressTable[static_cast<std::size_t>(i)].ecuAddress, ecus[i]);
        EXPECT_EQ(kwp.addressTable[static_cast<std::size_t>(i)].testerAddress, 0xF0);
    }
}

TEST(CEcuLumaTest, IdentTables) {
    const CEcuLumaXX lumaxx(nullptr, "LUMAXX");
    const CEcuLumaManMarivane marivane(nullptr, "LUMA_MAN_MARIVANE");
    const CEcuLumaManRetarder retarder(nullptr, "LUMA_MAN_RETARDER");
    const CEcuLumaKodierstation station(nullptr, "LUMA_KODIERSTATION");
    EXPECT_EQ(lumaxx.IdentNames().size(), 10u);
    EXPECT_EQ(lumaxx.IdentNames().front().word, 0x6087);
    EXPECT_EQ(station.IdentNames().size(), 10u);
    EXPECT_EQ(marivane.IdentNames().size(), 12u);
    EXPECT_EQ(retarder.IdentNames().size(), 12u);
    EXPECT_EQ(retarder.IdentNames().front().word, 0x6095);
    EXPECT_STREQ(retarder.IdentNames().back().name, "Motornummer");
}

class LumaUploadTest : public ::testing::Test {
  protected:
    LumaUploadTest() { ecu.KwpUpload().date = "2024-03-07"; }
    CEcuLumaStandard ecu{nullptr, "LUMA_STANDARD"};
};

// Nothing read, or every read refused: no section at all.
TEST_F(LumaUploadTest, IdentSectionIsLeftOutWhenNothingWasRead) {
    EXPECT_EQ(ecu.BuildIdentSection(), "");
    EXPECT_EQ(ecu.BuildUploadText().find("[Ident]"), std::string::npos);
    ecu.KwpUpload().ident.push_back({0x87, "", false});
    ecu.KwpUpload().ident.push_back({0x9B, "", false});
    EXPECT_EQ(ecu.BuildIdentSection(), "");
    EXPECT_EQ(ecu.BuildUploadText().find("[Ident]"), std::string::npos);
}

// A refused read shows as "Name=|", as one never read.
TEST_F(LumaUploadTest, IdentSectionListsEveryName) {
    ecu.KwpUpload().ident.push_back({0x87, "4711", true});
    ecu.KwpUpload().ident.push_back({0x9B, "", false});
    ecu.KwpUpload().ident.push_back({0x8D, "SN 99", true});
    EXPECT_EQ(ecu.BuildIdentSection(),
              "[Ident]|Artikelnummer=\"4711\"|Hardwarekennung=|HardwareHerstelldatum=|"
              "Hardwarenummer=|Seriennummer=\"SN 99\"|Software=|Kodierdatum=|Retardertyp=|"
              "KundeProjekt=|SachnummerKunde=|");
}

TEST_F(LumaUploadTest, EventSection) {
    ecu.KwpUpload().eventListText = "58 01 12 34 E0";
    ecu.KwpUpload().AddEvent("57 01 12 34");
    EXPECT_EQ(ecu.BuildEventMemorySection(),
              "[Fehlerspeicher]|EventAnz=1|Eventx=\"58 01 12 34 E0\"|Event1= \"57 01 12 34 \"|");
}

TEST_F(LumaUploadTest, LongEventsAreWrittenWhole) {
    std::string answer;
    for (int i = 0; i < 300; ++i) answer += "AB ";
    ASSERT_EQ(ecu.KwpUpload().AddEvent(answer), 0);
    const std::string text = ecu.BuildEventMemorySection();
    EXPECT_NE(text.find("Event1= \"" + answer + "\"|"), std::string::npos);
}

TEST_F(LumaUploadTest, UploadTextOrder) {
    KwpUploadValues& values = ecu.KwpUpload();
    values.ident.push_back({0x95, "SW 1", true});
    values.AddMemoryAnswer(0x800000, "63 01 02");
    values.SetMemoryMap("61 04 80 00 00 00 08 00");
    values.sidLines.push_back("SID_3E= 7E|");
    const std::string text = ecu.BuildUploadText();
    const std::size_t header = text.find("[KOBOLD]");
    const std::size_t ident = text.find("[Ident]");
    const std::size_t events = text.find("[Fehlerspeicher]");
    const std::size_t memory = text.find("[EEPROM]|:020000040080");
    const std::size_t sid = text.find("[SID]|SID_3E= 7E|");
    EXPECT_EQ(header, 0u);
    EXPECT_LT(header, ident);
    EXPECT_LT(ident, events);
    EXPECT_LT(events, memory);
    EXPECT_LT(memory, sid);
    EXPECT_NE(sid, std::string::npos);
    EXPECT_EQ(text.find("[DataBlocks]"), std::string::npos);
    EXPECT_EQ(ecu.UploadText(), text);
}

TEST(CEcuLumaTest, ConnectTakesBackTheFoundPair) {
    KwpStandIn communication;
    communication.foundAt = 2;
    CEcuLumaXX ecu(&communication, "LUMAXX");
    ASSERT_EQ(ecu.Connect(), 0);
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    EXPECT_EQ(kwp.ecuAddress, 0x2D);
    EXPECT_EQ(kwp.testerAddress, 0xF0);
    EXPECT_EQ(kwp.foundEntry, 2);
    EXPECT_EQ(kwp.addressTable[2].found, 1);
    EXPECT_EQ(kwp.addressTable[2].hardwareVersion, "LUMA HW");
    EXPECT_EQ(ecu.Ident(CEcu::kIdentEcuAddress), "2D");
    EXPECT_EQ(ecu.Ident(CEcu::kIdentTesterAddress), "F0");
}

}  // namespace
}  // namespace diagbridge
