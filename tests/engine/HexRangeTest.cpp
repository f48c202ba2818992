#include "engine/HexRange.h"

#include <gtest/gtest.h>

#include "engine/IntelHexReader.h"
#include "support/IntelHexCases.h"

namespace diagbridge {
namespace {

TEST(HexRangeTest, ReadsEveryTextOfTheSharedTable) {
    for (const test::IntelHexCase& c : test::IntelHexCases()) {
        HexRange range;
        const bool hasRange = c.wellFormed && c.bytes > 0;
        EXPECT_EQ(DetectHexRange(c.text, range), hasRange ? 1 : 0) << c.name;
        EXPECT_EQ(range.start, hasRange ? c.start : 0xFFFFFFFFu) << c.name;
        EXPECT_EQ(range.end, hasRange ? c.end : 0u) << c.name;
    }
}

TEST(HexRangeTest, CountsTheRecordLengthsOfAllTypes) {
    HexRange range;
    const std::string text = test::HexText(
        {test::LinearRecord(0x0001), test::DataRecord(0x0010, {1, 2, 3}), test::kEndRecord});
    EXPECT_EQ(DetectHexRange(text, range), 1);
    EXPECT_EQ(range.count, 5u);
}

TEST(IntelHexReaderTest, HandsOutEveryRecordBeforeTheEndWithItsBytes) {
    const std::string text = test::HexText(
        {test::SegmentRecord(0x1000), test::DataRecord(0x0020, {0xAB, 0xCD}), ":00000001ff"});
    IntelHexReader reader(text);
    IntelHexRecord record;
    ASSERT_EQ(reader.Next(record), IntelHexStep::kRecord);
    EXPECT_EQ(record.type, kHexExtendedSegmentAddress);
    EXPECT_EQ(record.base, 0x1000u);
    ASSERT_EQ(reader.Next(record), IntelHexStep::kRecord);
    EXPECT_EQ(record.type, kHexData);
    EXPECT_EQ(record.start, 0x10020u);
    EXPECT_EQ(record.offset, 0x0020);
    EXPECT_EQ(std::vector<uint8_t>(record.bytes.begin(), record.bytes.end()),
              (std::vector<uint8_t>{0x02, 0x00, 0x20, 0x00, 0xAB, 0xCD, 0x66}));
    EXPECT_EQ(record.dataDigits, "ABCD");
    EXPECT_EQ(reader.Next(record), IntelHexStep::kEnd);
    EXPECT_EQ(reader.Next(record), IntelHexStep::kMalformed);
}

TEST(IntelHexReaderTest, WordAddressedDataCountsTwoBytesPerAddress) {
    const std::string odd = test::HexText({test::DataRecord(0, {1, 2, 3}), test::kEndRecord});
    IntelHexRecord record;
    IntelHexReader words(odd, 2);
    EXPECT_EQ(words.Next(record), IntelHexStep::kMalformed);
    const std::string top = test::HexText(
        {test::LinearRecord(0xFFFF), test::DataRecord(0xFFFE, {1, 2, 3, 4}), test::kEndRecord});
    IntelHexReader bytes(top);
    bytes.Next(record);
    EXPECT_EQ(bytes.Next(record), IntelHexStep::kMalformed);
    IntelHexReader wordsAtTop(top, 2);
    wordsAtTop.Next(record);
    EXPECT_EQ(wordsAtTop.Next(record), IntelHexStep::kRecord);
}

TEST(IntelHexReaderTest, EndRecordIsFoundByItsDigitsInEitherCase) {
    struct Case {
        const char* text;
        bool holds;
    };
    const Case cases[] = {
        {":00000001FF", true},
        {":00000001ff", true},
        {":0100000000FF|  :00000001fF \r", true},
        {":0100000000FF\n00000001FF", true},
        {"/data/images/sw.hex", false},
        {"/data/:00000001FF/sw.hex", false},
        {":00000001FE", false},
        {":0000000FFF", false},
    };
    for (const Case& c : cases) EXPECT_EQ(HoldsIntelHexEndRecord(c.text), c.holds) << c.text;
}

}  // namespace
}  // namespace diagbridge
