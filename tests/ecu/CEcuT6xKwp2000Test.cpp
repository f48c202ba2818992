#include "ecu/CEcuT6xKwp2000.h"

#include <gtest/gtest.h>

#include "ecu/CEcuR6xKwp2000.h"

namespace diagbridge {
namespace {

TEST(CEcuT6xKwp2000Test, MatchObjectType) {
    CEcuT6xKwp2000 generic(nullptr, "T6X");
    CEcuT60Kwp2000 t60(nullptr, "T60");
    CEcuT601Kwp2000 t601(nullptr, "T60.1");
    CEcuT65Kwp2000 t65(nullptr, "T65");
    CEcuT61Kwp2000 t61(nullptr, "T61");
    CEcuR60Kwp2000 r60(nullptr, "R60");
    CEcuR6xKwp2000 r6x(nullptr, "R6X");
    struct Case {
        CEcu& ecu;
        const char* type;
        bool match;
    };
    const Case cases[] = {
        {t65, "T65", true},     {t60, "T65", false},   {t601, "T65", false},  {t61, "T65", false},
        {t60, "T60", true},     {t60, "T60.1", false}, {t601, "T60.1", true}, {t61, "T61", true},
        {t65, "t65", false},    {t65, "", false},      {r60, "R60", true},    {r60, "T60", false},
        {generic, "T65", true}, {generic, "", true},   {r6x, "R61", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ecu.MatchObjectType(c.type), c.match) << c.ecu.Ident(1) << " / " << c.type;
    }
}

// A model with the values of an upload, as the stack leaves them.
class T6xUploadTest : public ::testing::Test {
  protected:
    T6xUploadTest() {
        ecu.SetIdent(CEcu::kIdentObject, "T60");
        ecu.SetIdent(CEcu::kIdentHardware, "HW 3.1");
        ecu.SetIdent(CEcu::kIdentSoftware, "SW 12");
        ecu.SetIdent(CEcu::kIdentDataset, "DS 4");
        KwpUploadValues& values = ecu.KwpUpload();
        values.date = "2024-03-07";
        values.AddMemoryAnswer(0x400180, "63 11 22 33 44");
        values.ident.push_back({0x93, "T60", true});
        values.ident.push_back({0x94, "", false});
        values.eventListText = "58 01 12 34 E0";
        values.AddEvent("57 01 12 34 E0 05");
        values.AddEvent("57 01 56 78 20");
        values.sidLines.push_back("SID_1A_80= 5A 80|");
    }
    std::string Header() {
        return "[KOBOLD]|Version=4.x|FormatType=3|TheTime=\"2024-03-07\"|TheUser=\"" +
               ecu.Upload().header.at(3) +
               "\"|TheObject=\"T60\"|TheHardware=\"HW 3.1\"|TheSoftware=\"SW 12\"|"
               "TheDataset=\"DS 4\"|";
    }
    CEcuT60Kwp2000 ecu{nullptr, "T60"};
};

TEST_F(T6xUploadTest, Sections) {
    EXPECT_NE(ecu.Upload().header.at(3).find('@'), std::string::npos);
    EXPECT_EQ(ecu.BuildUploadHeader(), Header());
    EXPECT_EQ(ecu.BuildIdentSection(),
              "[IdentMem]|Scaling=\"A\"|Ident93=[\"T60\"]|INVALID_Ident94=[\"\"]|");
    EXPECT_EQ(ecu.BuildEventMemorySection(),
              "[EventMem]|EventAnz=2|Eventx=\"58 01 12 34 E0\"|Event1=\"57 01 12 34 E0 05\"|"
              "Event2=\"57 01 56 78 20\"|");
    EXPECT_EQ(ecu.BuildSidSection(), "[SID]|SID_1A_80= 5A 80|");
    EXPECT_EQ(ecu.BuildDataBlockSection(), "");
}

TEST_F(T6xUploadTest, UploadTextJoinsTheSectionsAndIsKept) {
    ecu.KwpUpload().SetMemoryMap("61 01 40 01 80 00 00 04");
    const std::string text = ecu.BuildUploadText();
    EXPECT_EQ(text, Header() + "[DataBlocks]|BlockMask=0|Block0=400180, 000004|" +
                        "[FRAM]|:020000040040BA|:0401800011223344D1|:00000001FF|" +
                        "[IdentMem]|Scaling=\"A\"|Ident93=[\"T60\"]|INVALID_Ident94=[\"\"]|" +
                        "[EventMem]|EventAnz=2|Eventx=\"58 01 12 34 E0\"|"
                        "Event1=\"57 01 12 34 E0 05\"|Event2=\"57 01 56 78 20\"|" +
                        "[SID]|SID_1A_80= 5A 80|");
    EXPECT_EQ(ecu.UploadText(), text);
}

TEST_F(T6xUploadTest, EmptySectionsAreLeftOut) {
    ecu.KwpUpload().Clear();
    ecu.KwpUpload().date = "2024-03-07";
    EXPECT_EQ(ecu.BuildUploadText(), Header() + "[EventMem]|EventAnz=0|Eventx=\"\"|");
}

}  // namespace
}  // namespace diagbridge
