#include "uds/HexImage.h"

#include <cctype>
#include <ostream>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HexTestSupport.h"
#include "support/IntelHexCases.h"

namespace diagbridge {
namespace {

using test::AsInts;
using test::DataBytes;
using test::DataRecord;
using test::HexRecord;
using test::HexText;
using test::kEndRecord;
using test::LinearRecord;
using test::Ramp;
using test::RawRecord;
using test::SegmentRecord;
using ::testing::ElementsAre;

constexpr uint8_t kByteMode = 0;
constexpr uint8_t kWordMode = 1;

struct Span {
    uint32_t start;
    uint32_t length;
    bool operator==(const Span&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Span& span) {
    return out << std::hex << "[0x" << span.start << " +0x" << span.length << "]";
}

std::vector<Span> Spans(const std::vector<UdsTransferDatablockTag>& blocks) {
    std::vector<Span> spans;
    for (const auto& block : blocks) spans.push_back({block.start, block.length});
    return spans;
}

TEST(HexImageTest, DataRecordBecomesBlockWithItsAddressFields) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text = HexText({":0300300002337A1E", kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 3);

    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data, "02 33 7A|");
    EXPECT_EQ(blocks[0].length, 3u);
    EXPECT_EQ(blocks[0].start, 0x30u);
    EXPECT_EQ(blocks[0].recordOffset, 0x30u);
    EXPECT_EQ(blocks[0].base, 0u);
    EXPECT_EQ(blocks[0].group, 0);
    EXPECT_EQ(blocks[0].spare, 0u);
}

TEST(HexImageTest, ContiguousRecordsShareABlockAndGapsSplit) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({DataRecord(0x0100, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9}),
                 DataRecord(0x010A, {0xB0, 0xB1}), DataRecord(0x010D, {0xC0}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 13);

    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].data, "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9|B0 B1|");
    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0x100, 12}, {0x10D, 1}}));
    EXPECT_EQ(blocks[0].group, 0);
    EXPECT_EQ(blocks[1].group, 1);
    EXPECT_EQ(blocks[1].recordOffset, 0x10Du);
}

TEST(HexImageTest, BlocksGivenOutOfOrderComeOutInAddressOrderAndMerge) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text = HexText({DataRecord(0x0300, {0x03}), DataRecord(0x0110, {0x02}),
                                      DataRecord(0x0100, Ramp(16)), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 18);

    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0x100, 17}, {0x300, 1}}));
    EXPECT_EQ(blocks[0].data, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F|02|");
    EXPECT_EQ(blocks[0].recordOffset, 0x100u);
    EXPECT_EQ(blocks[1].group, 1);
}

struct ExtendedAddressCase {
    const char* name;
    std::string addressRecord;
    uint32_t start;
    uint32_t base;
};

void PrintTo(const ExtendedAddressCase& entry, std::ostream* out) {
    *out << entry.name;
}

class HexExtendedAddressTest : public ::testing::TestWithParam<ExtendedAddressCase> {};

TEST_P(HexExtendedAddressTest, PlacesDataAboveTheBase) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({GetParam().addressRecord, DataRecord(0x0010, {0x55, 0xAA}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 2);

    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].start, GetParam().start);
    EXPECT_EQ(blocks[0].base, GetParam().base);
    EXPECT_EQ(blocks[0].recordOffset, 0x10u);
}

INSTANTIATE_TEST_SUITE_P(
    Records, HexExtendedAddressTest,
    ::testing::Values(ExtendedAddressCase{"segment", SegmentRecord(0x1234), 0x12350, 0x1234},
                      ExtendedAddressCase{"linear", LinearRecord(0x0801), 0x08010010, 0x08010000},
                      ExtendedAddressCase{"linear_top", LinearRecord(0xFFFF), 0xFFFF0010,
                                          0xFFFF0000}),
    [](const auto& entry) { return std::string(entry.param.name); });

TEST(HexImageTest, LatestExtendedAddressRecordWins) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({LinearRecord(0x0002), SegmentRecord(0x0010), DataRecord(0x0000, {0x01}),
                 LinearRecord(0x0003), DataRecord(0x0000, {0x02}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 2);

    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0x100, 1}, {0x30000, 1}}));
}

TEST(HexImageTest, DataContinuingAcrossA64KiBBoundaryMergesIntoOneBlock) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({LinearRecord(0x0000), DataRecord(0xFFF0, Ramp(16)), SegmentRecord(0x1000),
                 DataRecord(0x0000, Ramp(8, 16)), LinearRecord(0x0001), DataRecord(0x0008, {0x18}),
                 kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 25);

    ASSERT_EQ(Spans(blocks), (std::vector<Span>{{0xFFF0, 25}}));
    EXPECT_EQ(DataBytes(blocks[0]), AsInts(Ramp(25)));
    EXPECT_EQ(blocks[0].base, 0u);
    EXPECT_EQ(blocks[0].recordOffset, 0xFFF0u);
}

TEST(HexImageTest, LinearRecordRunsOnPastItsAddressWindow) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({LinearRecord(0x0001), DataRecord(0xFFF8, Ramp(16)), LinearRecord(0x0002),
                 DataRecord(0x0008, {0x10}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 17);

    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0x1FFF8, 17}}));
}

TEST(HexImageTest, StartAddressRecordsAreIgnored) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text = HexText(
        {DataRecord(0x0000, {0x01, 0x02}), HexRecord(0x03, 0, {0x12, 0x34, 0x00, 0x10}),
         DataRecord(0x0002, {0x03}), HexRecord(0x05, 0, {0x08, 0x00, 0x01, 0x00}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 3);

    ASSERT_EQ(Spans(blocks), (std::vector<Span>{{0, 3}}));
    EXPECT_EQ(blocks[0].data, "01 02|03|");
}

TEST(HexImageTest, WordAddressingCountsTwoBytesPerAddress) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({DataRecord(0x0000, Ramp(16)), DataRecord(0x0008, Ramp(16, 16)),
                 DataRecord(0x0020, {0xEE, 0xFF}), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kWordMode, blocks), 34);
    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0x0000, 32}, {0x0020, 2}}));
    EXPECT_EQ(DataBytes(blocks[0]), AsInts(Ramp(32)));

    // Read as bytes the second record lies inside the first.
    EXPECT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), kHexConversionFailed);
}

TEST(HexImageTest, WordAddressedBlocksGivenOutOfOrderMerge) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({DataRecord(0x0004, {0x05, 0x06}), DataRecord(0x0000, Ramp(8)), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kWordMode, blocks), 10);

    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0, 10}}));
}

std::string Lower(std::string line) {
    for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return line;
}

TEST(HexImageTest, ReadsEveryTextOfTheSharedTable) {
    for (const test::IntelHexCase& c : test::IntelHexCases()) {
        std::vector<UdsTransferDatablockTag> blocks;
        const bool converts = c.wellFormed && c.bytes > 0;
        const int32_t result = ConvertHexToDatablocks(c.text, kByteMode, blocks);
        EXPECT_EQ(result, converts ? static_cast<int32_t>(c.bytes) : kHexConversionFailed)
            << c.name;
        if (!converts || blocks.empty()) continue;
        EXPECT_EQ(blocks.front().start, c.start) << c.name;
        EXPECT_EQ(uint64_t{blocks.back().start} + blocks.back().length, c.end) << c.name;
    }
}

TEST(HexImageTest, LooseLayoutIsAccepted) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string second = DataRecord(0x0010, {0x12, 0xAB, 0x34, 0xCD});
    // White space around lines, empty lines, lower case, no colon, two colons.
    const std::string loose = "  \t" + Lower(LinearRecord(0x0001)) + "\r\n||" +
                              Lower(second.substr(1)) + "|  :" + DataRecord(0x0014, {0x56, 0xEF}) +
                              "\r|\r\n|" + Lower(kEndRecord) + "|";

    ASSERT_EQ(ConvertHexToDatablocks(loose, kByteMode, blocks), 6);

    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data, "12 AB 34 CD|56 EF|");
    EXPECT_EQ(blocks[0].start, 0x10010u);
}

TEST(HexImageTest, LongestRecordsConvert) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({DataRecord(0x0000, Ramp(255)), DataRecord(0x00FF, Ramp(255, 255)), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 510);

    ASSERT_EQ(Spans(blocks), (std::vector<Span>{{0, 510}}));
    EXPECT_EQ(DataBytes(blocks[0]), AsInts(Ramp(510)));
}

struct MalformedCase {
    const char* name;
    std::string text;
    uint8_t mode = kByteMode;
};

std::string WithCharAt(std::string line, size_t pos, char c) {
    line.insert(line.begin() + static_cast<std::ptrdiff_t>(pos), c);
    return line;
}

const std::string kGoodRecord = DataRecord(0x0100, {0x11, 0x22, 0x33, 0x44});

void PrintTo(const MalformedCase& entry, std::ostream* out) {
    *out << entry.name;
}

class HexMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(HexMalformedTest, FailsWithoutBlocks) {
    std::vector<UdsTransferDatablockTag> blocks(2);

    EXPECT_EQ(ConvertHexToDatablocks(GetParam().text, GetParam().mode, blocks),
              kHexConversionFailed);
    EXPECT_TRUE(blocks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexMalformedTest,
    ::testing::Values(
        MalformedCase{"empty_text", ""}, MalformedCase{"only_blank_lines", " | |"},
        MalformedCase{"no_data", HexText({LinearRecord(1), kEndRecord})},
        MalformedCase{"no_end_record", kGoodRecord},
        MalformedCase{"record_after_end", HexText({kGoodRecord, kEndRecord, LinearRecord(0)})},
        MalformedCase{"second_end_record", HexText({kGoodRecord, kEndRecord, kEndRecord})},
        MalformedCase{"end_record_with_data", HexText({kGoodRecord, HexRecord(0x01, 0, {0})})},
        MalformedCase{"wrong_checksum", HexText({":0400000011223344FF", kEndRecord})},
        MalformedCase{"comma", HexText({WithCharAt(kGoodRecord, 9, ','), kEndRecord})},
        MalformedCase{"semicolon", HexText({WithCharAt(kGoodRecord, 9, ';'), kEndRecord})},
        MalformedCase{"inner_blank", HexText({WithCharAt(kGoodRecord, 9, ' '), kEndRecord})},
        MalformedCase{"inner_colon", HexText({WithCharAt(kGoodRecord, 10, ':'), kEndRecord})},
        MalformedCase{"not_a_hex_digit", HexText({":0400000011G23344A4", kEndRecord})},
        MalformedCase{"odd_digit_count", HexText({kGoodRecord.substr(0, 18), kEndRecord})},
        MalformedCase{"lone_colon", HexText({kGoodRecord, ":", kEndRecord})},
        MalformedCase{"shorter_than_a_record", HexText({":00000000", kEndRecord})},
        MalformedCase{
            "length_above_bytes",
            HexText({RawRecord({0x05, 0x01, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44}), kEndRecord})},
        MalformedCase{
            "length_below_bytes",
            HexText({RawRecord({0x03, 0x01, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44}), kEndRecord})},
        MalformedCase{"longer_than_any_record",
                      HexText({RawRecord(std::vector<uint8_t>(300, 0)), kEndRecord})},
        MalformedCase{"segment_record_length",
                      HexText({HexRecord(0x02, 0, {0x10}), kGoodRecord, kEndRecord})},
        MalformedCase{"linear_record_length",
                      HexText({HexRecord(0x04, 0, {0, 0, 1}), kGoodRecord, kEndRecord})},
        MalformedCase{"start_record_length",
                      HexText({HexRecord(0x05, 0, {0, 0}), kGoodRecord, kEndRecord})},
        MalformedCase{"unknown_type", HexText({HexRecord(0x06, 0, {}), kGoodRecord, kEndRecord})},
        MalformedCase{"same_address_twice", HexText({kGoodRecord, kGoodRecord, kEndRecord})},
        MalformedCase{"partial_overlap", HexText({DataRecord(0x0100, Ramp(16)),
                                                  DataRecord(0x0108, Ramp(16)), kEndRecord})},
        MalformedCase{"overlap_through_extended_address",
                      HexText({SegmentRecord(0x0010), DataRecord(0x0000, {1}), LinearRecord(0),
                               kGoodRecord, kEndRecord})},
        MalformedCase{"data_leaving_its_segment",
                      HexText({SegmentRecord(0x1000), DataRecord(0xFFF8, Ramp(16)), kEndRecord})},
        MalformedCase{"data_beyond_4_GiB",
                      HexText({LinearRecord(0xFFFF), DataRecord(0xFFF8, Ramp(16)), kEndRecord})},
        MalformedCase{"odd_length_in_word_addressing",
                      HexText({DataRecord(0x0000, {1, 2, 3}), kEndRecord}), kWordMode},
        MalformedCase{"unknown_conversion_mode", HexText({kGoodRecord, kEndRecord}), 2}),
    [](const auto& entry) { return std::string(entry.param.name); });

// Damaged texts (changed, dropped or repeated characters, cut lines) either fail or give
// blocks that agree with the returned byte count; none reads outside the text.
TEST(HexImageTest, DamagedTextsFailCleanlyOrStayConsistent) {
    const std::string good =
        HexText({LinearRecord(0x0001), DataRecord(0x0000, Ramp(16)), SegmentRecord(0x2000),
                 DataRecord(0x0010, Ramp(8)), HexRecord(0x05, 0, {0, 0, 1, 0}), kEndRecord});
    const std::string alphabet = "0123456789ABCDEFaf:| ,;G\r";
    std::mt19937 random(1234);
    std::vector<UdsTransferDatablockTag> blocks;
    for (int round = 0; round < 5000; ++round) {
        std::string text = good;
        const size_t pos = random() % text.size();
        switch (random() % 4) {
            case 0:
                text[pos] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                text.erase(pos, 1 + random() % 3);
                break;
            case 2:
                text.insert(pos, text.substr(pos, 1 + random() % 12));
                break;
            default:
                text.resize(pos);
                break;
        }
        const int32_t result = ConvertHexToDatablocks(text, kByteMode, blocks);
        if (result == kHexConversionFailed) {
            EXPECT_TRUE(blocks.empty()) << text;
            continue;
        }
        ASSERT_GT(result, 0) << text;
        int64_t total = 0;
        for (const auto& block : blocks) {
            total += block.length;
            EXPECT_EQ(block.data.size(), 3u * block.length) << text;
        }
        EXPECT_EQ(total, result) << text;
    }
}

TEST(HexImageTest, DataEndingAtTheTopOfTheAddressSpaceConverts) {
    std::vector<UdsTransferDatablockTag> blocks;
    const std::string text =
        HexText({LinearRecord(0xFFFF), DataRecord(0xFFF8, Ramp(8)), kEndRecord});

    ASSERT_EQ(ConvertHexToDatablocks(text, kByteMode, blocks), 8);

    EXPECT_EQ(Spans(blocks), (std::vector<Span>{{0xFFFFFFF8, 8}}));
}

}  // namespace
}  // namespace diagbridge
