#include "engine/HexRange.h"

#include <gtest/gtest.h>

namespace diagbridge {
namespace {

TEST(HexRangeTest, ScansDataUnderSegmentAndLinearBases) {
    struct Case {
        const char* name;
        const char* text;
        int32_t result;
        uint32_t start;
        uint32_t end;
        uint32_t count;
    };
    const Case cases[] = {
        {"plain data", ":0400100001020304E2|:02000000AABB99|:00000001FF|", 1, 0x0000, 0x0014, 6},
        {"segment base", ":020000021000EC|:0200200011224B|:00000001FF", 1, 0x10020, 0x10022, 4},
        {"linear base", ":020000040001F9|:04000000DEADBEEFC4|:00000001FF", 1, 0x10000, 0x10004, 6},
        {"end record stops", ":0100000000FF|:00000001FF|:01100000AA45", 1, 0, 1, 1},
        {"bad header stops", ":0100000000FF|:01ZZ000000|:01100000AA45", 1, 0, 1, 1},
        {"other types skipped", ":04000005000000CD2A|:01000800AA4D|:00000001FF", 1, 8, 9, 5},
        {"line breaks", ":0100000000FF\r\n:01000100AA54\r\n:00000001FF\r\n", 1, 0, 2, 2},
        {"empty", "", 0, 0xFFFFFFFFu, 0, 0},
        {"no data", ":020000040001F9|:00000001FF", 0, 0xFFFFFFFFu, 0, 2},
        {"not records", "hello|world", 0, 0xFFFFFFFFu, 0, 0},
        {"short base record ends", ":020000040|:0100000000FF", 0, 0xFFFFFFFFu, 0, 2},
    };
    for (const Case& c : cases) {
        HexRange range;
        EXPECT_EQ(DetectHexRange(c.text, range), c.result) << c.name;
        EXPECT_EQ(range.start, c.start) << c.name;
        EXPECT_EQ(range.end, c.end) << c.name;
        EXPECT_EQ(range.count, c.count) << c.name;
    }
}

}  // namespace
}  // namespace diagbridge
