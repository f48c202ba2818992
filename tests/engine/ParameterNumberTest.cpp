#include <gtest/gtest.h>

#include "engine/ParameterString.h"

namespace diagbridge {
namespace {

struct NumberCase {
    const char* text;
    bool hexRead;
    uint32_t hex;
    bool numberRead;
    uint32_t number;
};

TEST(ParameterNumberTest, HexAndMarkedNumbers) {
    const NumberCase cases[] = {
        {"0x33h", true, 0x33, true, 0x33},
        {"33h", true, 0x33, true, 0x33},
        {"0X33", true, 0x33, true, 0x33},
        {"33", true, 0x33, true, 33},
        {" 0x 5h ", true, 0x5, true, 0x5},
        {"FA", true, 0xFA, false, 0},
        {"0xFFFFFFFFh", true, 0xFFFFFFFF, true, 0xFFFFFFFF},
        {"0x100000000h", false, 0, false, 0},
        {"4294967296", false, 0, false, 0},  // too long in either base
        {"0x", false, 0, false, 0},
        {"h", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"1G", false, 0, false, 0},
        {"-1", false, 0, false, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t value = 0;
        EXPECT_EQ(ReadHex(c.text, value), c.hexRead);
        if (c.hexRead) {
            EXPECT_EQ(value, c.hex);
        }
        value = 0;
        EXPECT_EQ(ReadNumber(c.text, value), c.numberRead);
        if (c.numberRead) {
            EXPECT_EQ(value, c.number);
        }
    }
}

}  // namespace
}  // namespace diagbridge
