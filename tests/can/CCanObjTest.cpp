#include "can/CCanObj.h"

#include <gtest/gtest.h>

#include <cstring>

namespace diagbridge {
namespace {

TEST(CCanObjTest, ConstructionFillsUnusedBytesAndCutsTheLength) {
    const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const CCanObj three(0x123, 3, data);
    EXPECT_EQ(three.length, 3);
    const uint8_t expected[8] = {1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(three.data, expected, 8));
    EXPECT_EQ(three.reserved1, 0u);
    EXPECT_EQ(three.reserved2, 0u);

    const CCanObj tooLong(0x123, 12, data);
    EXPECT_EQ(tooLong.length, 8);
    EXPECT_EQ(tooLong.data[7], 8);

    const CCanObj noData(0x123, 5, nullptr);
    for (uint8_t byte : noData.data) EXPECT_EQ(byte, 0xFF);
}

TEST(CCanObjTest, SerializesLengthIdentifierTimeAndData) {
    const uint8_t data[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    CCanObj frame(0x98DA33F1u, 8, data);
    frame.time = 0x01020304u;
    uint8_t record[CCanObj::kSerializedSize];
    frame.Serialize(record);
    const uint8_t expected[CCanObj::kSerializedSize] = {8,    0xF1, 0x33, 0xDA, 0x98, 0x04,
                                                        0x03, 0x02, 0x01, 0x10, 0x20, 0x30,
                                                        0x40, 0x50, 0x60, 0x70, 0x80};
    EXPECT_EQ(0, std::memcmp(record, expected, sizeof(record)));

    CCanObj loaded;
    ASSERT_TRUE(loaded.Deserialize(record, sizeof(record)));
    EXPECT_EQ(loaded.identifier, frame.identifier);
    EXPECT_EQ(loaded.time, frame.time);
    EXPECT_EQ(loaded.length, 8);
    EXPECT_EQ(0, std::memcmp(loaded.data, data, 8));
}

TEST(CCanObjTest, DeserializeRejectsBadRecords) {
    uint8_t record[CCanObj::kSerializedSize] = {};
    CCanObj frame(0x55, 1);
    EXPECT_FALSE(frame.Deserialize(record, sizeof(record) - 1));
    EXPECT_FALSE(frame.Deserialize(nullptr, sizeof(record)));
    record[0] = 9;
    EXPECT_FALSE(frame.Deserialize(record, sizeof(record)));
    EXPECT_EQ(frame.identifier, 0x55u);
}

}  // namespace
}  // namespace diagbridge
