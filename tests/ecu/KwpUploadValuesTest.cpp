#include "ecu/KwpUploadValues.h"

#include <gtest/gtest.h>

namespace diagbridge {
namespace {

TEST(KwpUploadValuesTest, MemorySectionIsIntelHexFromTheReadAddress) {
    KwpUploadValues values;
    ASSERT_EQ(values.AddMemoryAnswer(0x400180, "63 11 22 33 44"), 0);
    ASSERT_EQ(values.AddMemoryAnswer(0x400184, "63 AA BB"), 0);
    EXPECT_EQ(KwpMemorySection("[FRAM]", values.memory),
              "[FRAM]|:020000040040BA|:0401800011223344D1|:02018400AABB14|:00000001FF|");
}

// A piece running over a 64 KiB boundary goes on under a new extended address record, so
// no byte lands at a wrapped address.
TEST(KwpUploadValuesTest, MemorySectionFollowsTheUpperAddressBits) {
    KwpUploadValues values;
    ASSERT_EQ(values.AddMemoryAnswer(0x40FFFE, "63 01 02 03 04"), 0);
    EXPECT_EQ(KwpMemorySection("[FRAM]", values.memory),
              "[FRAM]|:020000040040BA|:02FFFE000102FE|:020000040041B9|:020000000304F7|"
              ":00000001FF|");
}

TEST(KwpUploadValuesTest, LongAnswersAreSplitIntoRecordsOf255Bytes) {
    KwpUploadValues values;
    std::string answer = "63";
    for (int i = 0; i < 300; ++i) answer += " 00";
    ASSERT_EQ(values.AddMemoryAnswer(0x800000, answer), 0);
    const std::string text = KwpMemorySection("[EEPROM]", values.memory);
    EXPECT_NE(text.find("|:FF000000"), std::string::npos);
    EXPECT_NE(text.find("|:2D00FF00"), std::string::npos);  // 45 bytes at 0x00FF
}

TEST(KwpUploadValuesTest, NoMemoryGivesNoSection) {
    EXPECT_EQ(KwpMemorySection("[FRAM]", {}), "");
}

TEST(KwpUploadValuesTest, OnlyPositiveAnswersAreKept) {
    KwpUploadValues values;
    EXPECT_EQ(values.AddMemoryAnswer(0x400180, "7F 23 31"), -3);
    EXPECT_EQ(values.AddMemoryAnswer(0x400180, "63 1G"), -3);
    EXPECT_EQ(values.AddMemoryAnswer(0x400180, ""), -3);
    EXPECT_EQ(values.SetMemoryMap("7F 21 12"), -3);
    EXPECT_TRUE(values.memory.empty());
}

TEST(KwpUploadValuesTest, MemoryMapAreas) {
    KwpUploadValues values;
    ASSERT_EQ(values.SetMemoryMap("61 01 40 01 80 00 7E E0 40 80 00 00 01 00 55"), 2);
    ASSERT_EQ(values.memoryMap.size(), 2u);
    EXPECT_EQ(values.memoryMap[0].start, 0x400180u);
    EXPECT_EQ(values.memoryMap[0].length, 0x7EE0u);
    EXPECT_EQ(values.memoryMap[1].start, 0x408000u);
    EXPECT_EQ(values.memoryMap[1].length, 0x100u);
    EXPECT_EQ(KwpDataBlockSection(values.memoryMap),
              "[DataBlocks]|BlockMask=0|Block0=400180, 007EE0|Block1=408000, 000100|");
    EXPECT_EQ(KwpDataBlockSection({}), "");
}

TEST(KwpUploadValuesTest, EventsAreBoundedByTheTable) {
    KwpUploadValues values;
    for (std::size_t i = 0; i < KwpUploadValues::kMaxEvents; ++i) {
        ASSERT_EQ(values.AddEvent("57 01 12 34 E0"), 0);
    }
    EXPECT_EQ(values.AddEvent("57 01 12 34 E0"), -3);
    values.Clear();
    EXPECT_EQ(values.AddEvent("57 XY"), -3);
    std::string tooLong;
    for (int i = 0; i < 301; ++i) tooLong += "00 ";
    EXPECT_EQ(values.AddEvent(tooLong), -3);
    EXPECT_TRUE(values.events.empty());
}

TEST(KwpUploadValuesTest, SidSection) {
    EXPECT_EQ(KwpSidSection("[SID]", {}), "");
    EXPECT_EQ(KwpSidSection("[SID]", {"SID_1A_80= 5A 80 01|", "SID_3E= 7E|"}),
              "[SID]|SID_1A_80= 5A 80 01|SID_3E= 7E|");
}

}  // namespace
}  // namespace diagbridge
