// Lawicel frame lines as the slcan adapters write and read them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/xl/SlcanLine.h"

namespace diagbridge::xl {
namespace {

struct LineCase {
    const char* line;
    bool accepted;
    uint32_t id;
    std::vector<uint8_t> data;
};

TEST(SlcanLineTest, ReadsFrameLinesAndRefusesTheRest) {
    const LineCase cases[] = {
        {"t7E8101", true, 0x7E8, {0x01}},
        {"T18DAF1333037E00", true, 0x98DAF133, {0x03, 0x7E, 0x00}},
        {"t1230", true, 0x123, {}},
        {"t7ff2abCD", true, 0x7FF, {0xAB, 0xCD}},
        {"t7E8101E4F1", true, 0x7E8, {0x01}},  // timestamp after the data
        {"T1FFFFFFF0", true, 0x9FFFFFFF, {}},
        {"t800", false, 0, {}},        // no length digit
        {"t8000", false, 0, {}},       // beyond 11 bits
        {"T200000000", false, 0, {}},  // beyond 29 bits
        {"t1239", false, 0, {}},       // length 9
        {"t12320", false, 0, {}},      // a byte missing
        {"t1231G0", false, 0, {}},     // not hex
        {"r1230", false, 0, {}},       // remote frame
        {"", false, 0, {}},
        {"z", false, 0, {}},
    };
    for (const LineCase& c : cases) {
        CanFrame frame;
        ASSERT_EQ(ParseSlcanFrameLine(c.line, frame), c.accepted) << c.line;
        if (!c.accepted) continue;
        EXPECT_EQ(frame.id, c.id) << c.line;
        EXPECT_EQ(std::vector<uint8_t>(frame.data, frame.data + frame.dlc), c.data) << c.line;
    }
}

TEST(SlcanLineTest, ReadsNoFurtherThanTheLine) {
    // The length digit promises two bytes; the view ends before the second.
    const std::string text = "t123211223344";
    CanFrame frame;
    EXPECT_FALSE(ParseSlcanFrameLine(std::string_view(text).substr(0, 7), frame));
    EXPECT_TRUE(ParseSlcanFrameLine(std::string_view(text).substr(0, 9), frame));
}

TEST(SlcanLineTest, WritesUpperCaseLinesMaskedAndClamped) {
    struct EncodeCase {
        CanFrame frame;
        const char* line;
    };
    const EncodeCase cases[] = {
        {{0x98DA33F1u, 8, {0x02, 0x3E, 0x80, 0, 0, 0, 0, 0}}, "T18DA33F18023E800000000000"},
        {{0x7E0, 2, {0xAB, 0x0C}}, "t7E02AB0C"},
        {{0xFFFF, 0, {}}, "t7FF0"},  // 11 bits kept
        {{0xFFFFFFFFu, 12, {1, 2, 3, 4, 5, 6, 7, 8}}, "T1FFFFFFF80102030405060708"},
    };
    for (const EncodeCase& c : cases) {
        char out[kSlcanMaxLine];
        const std::size_t length = EncodeSlcanFrameLine(c.frame, out);
        EXPECT_EQ(std::string(out, length), c.line);
    }
}

}  // namespace
}  // namespace diagbridge::xl
