#include "ecu/KwpKeyRoutines.h"

#include <gtest/gtest.h>

#include "ecu/CEcuLuma.h"
#include "ecu/CEcuR6xKwp2000.h"
#include "ecu/CEcuT6xKwp2000.h"

namespace diagbridge {
namespace {

struct KeyCase {
    uint16_t seed;
    int32_t mode;
    uint16_t key;
};

TEST(KwpKeyRoutinesTest, MakerAccessKeys) {
    const KeyCase cases[] = {
        {0x1234, 0x83, 0x6E67}, {0x1234, 0x85, 0xE676}, {0xFFFF, 0x87, 0x0800},
        {0x0001, 0x81, 0xFFFF}, {0x8000, 0x86, 0x0100}, {0x0000, 0x84, 0x0000},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(MakerAccessKey(c.seed, c.mode), c.key) << std::hex << c.seed << " " << c.mode;
    }
}

TEST(KwpKeyRoutinesTest, VehicleMakerAccessKeys) {
    const KeyCase cases[] = {
        {0x1234, 0x83, 0xC9BE},
        {0x1234, 0x85, 0x0F96},
        {0xBEEF, 0x86, 0x810B},
        {0xFFFF, 0x83, 0x1C3C},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(VehicleMakerAccessKey(c.seed, c.mode), c.key)
            << std::hex << c.seed << " " << c.mode;
    }
}

TEST(KwpKeyRoutinesTest, ManAccessKeys) {
    const KeyCase cases[] = {
        {0x1234, 0x83, 0xDEA0}, {0x1234, 0x84, 0xCFF5}, {0xBEEF, 0x89, 0x5EBE},
        {0xFFFF, 0x85, 0x50C3}, {0x4321, 0x92, 0x757E},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(ManAccessKey(c.seed, c.mode), c.key) << std::hex << c.seed << " " << c.mode;
    }
}

struct RequestCase {
    const char* keyword;
    int32_t oem;
    int32_t mode;
    const char* seedRequest;
    const char* keyRequest;  // for the seed 0x1234
};

std::unique_ptr<CEcuKwp2000> Model(const std::string& keyword) {
    if (keyword == "T60") return std::make_unique<CEcuT60Kwp2000>(nullptr, keyword);
    if (keyword == "R60") return std::make_unique<CEcuR60Kwp2000>(nullptr, keyword);
    return std::make_unique<CEcuLumaManRetarder>(nullptr, keyword);
}

TEST(KwpKeyRoutinesTest, SeedAndKeyRequestsOfTheModels) {
    const RequestCase cases[] = {
        {"T60", 0, 0x83, "27 FD", "27 FE 6E 67"},
        {"T60", 1, 0x85, "27 01", "27 02 0F 96"},
        {"T60", 2, 0x85, "", ""},
        {"T60", -1, 0x85, "", ""},
        {"R60", 0, 0x85, "27 FD", "27 FE E6 76"},
        {"R60", 1, 0x85, "", ""},  // the R6x knows only the maker's access
        {"LUMA_MAN_RETARDER", 0, 0x83, "27 FD", "27 FE 6E 67"},
        {"LUMA_MAN_RETARDER", 1, 0x81, "", ""},  // no access needed
        {"LUMA_MAN_RETARDER", 1, 0x83, "27 01", "27 02 DE A0"},
        {"LUMA_MAN_RETARDER", 1, 0x84, "27 FB", "27 FC CF F5"},
        {"LUMA_MAN_RETARDER", 3, 0x84, "", ""},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " OEM " + std::to_string(c.oem));
        const auto ecu = Model(c.keyword);
        ASSERT_TRUE(ecu->IsCreated());
        EXPECT_EQ(ecu->SeedRequestFor(c.oem, c.mode), c.seedRequest);
        EXPECT_EQ(ecu->KeyRequestFor(c.oem, c.mode, 0x1234), c.keyRequest);
    }
}

// The stack hands the seed over as a 32-bit number; only its 16 bits count.
TEST(KwpKeyRoutinesTest, SeedIsTakenAsSixteenBits) {
    CEcuT60Kwp2000 ecu(nullptr, "T60");
    EXPECT_EQ(ecu.KeyRequestFor(0, 0x83, 0x51234), "27 FE 6E 67");
}

}  // namespace
}  // namespace diagbridge
