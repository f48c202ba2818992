#include "uds/Crc32.h"

#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace diagbridge {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct CheckValue {
    std::string_view text;
    uint32_t crc;
};

class Crc32CheckValueTest : public ::testing::TestWithParam<CheckValue> {};

TEST_P(Crc32CheckValueTest, MatchesTheKnownCheckValue) {
    EXPECT_EQ(Crc32(Bytes(GetParam().text)), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Crc32CheckValueTest,
    ::testing::Values(CheckValue{"", 0x00000000u}, CheckValue{"abc", 0x352441C2u},
                      CheckValue{"123456789", 0xCBF43926u},
                      CheckValue{"The quick brown fox jumps over the lazy dog", 0x414FA339u}));

TEST(Crc32Test, RunningRegisterOverPiecesEqualsOneCall) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::span<const uint8_t> all(data);

    uint32_t crc = kCrc32Initial;
    crc = Crc32Update(crc, all.subspan(0, 1));
    crc = Crc32Update(crc, all.subspan(1, 0));
    crc = Crc32Update(crc, all.subspan(1, 500));
    crc = Crc32Update(crc, all.subspan(501));

    EXPECT_EQ(Crc32Final(crc), Crc32(all));
}

}  // namespace
}  // namespace diagbridge
