#include "sim/kline/IntelHexText.h"

#include <gtest/gtest.h>

namespace diagbridge::sim {
namespace {

TEST(IntelHexTextTest, RecordsPagesAndEnd) {
    struct Case {
        const char* name;
        uint32_t address;
        std::vector<uint8_t> data;
        size_t recordBytes;
        char separator;
        std::string text;
    };
    const Case cases[] = {
        {"one record", 0x8000, {1, 2, 3, 4}, 16, '|', ":048000000102030472|:00000001FF|"},
        {"split by the record size",
         0x0010,
         {0xAA, 0xBB, 0xCC},
         2,
         '\n',
         ":02001000AABB89\n:01001200CC21\n:00000001FF\n"},
        {"page 0x40 announced first",
         0x400200,
         {0x5A},
         16,
         '|',
         ":020000040040BA|:010200005AA3|:00000001FF|"},
        {"a record never crosses a page",
         0xFFFE,
         {1, 2, 3, 4},
         16,
         '|',
         ":02FFFE000102FE|:020000040001F9|:020000000304F7|:00000001FF|"},
        {"nothing but the end", 0x8000, {}, 16, '|', ":00000001FF|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IntelHexText(c.address, c.data, c.recordBytes, c.separator), c.text) << c.name;
    }
}

}  // namespace
}  // namespace diagbridge::sim
