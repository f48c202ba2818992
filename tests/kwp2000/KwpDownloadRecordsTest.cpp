// The records a KWP2000 download sends, read from Intel-HEX text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kwp2000/KwpDownloadRecords.h"

namespace diagbridge {
namespace {

// ":" + the bytes of a record with its checksum.
std::string HexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string text = ":";
    for (uint8_t b : bytes) {
        static const char kDigits[] = "0123456789ABCDEF";
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

TEST(KwpDownloadRecordsTest, EveryRecordBeforeTheEndRecordWholeAndInOrder) {
    const std::string text = HexRecord(0, 0x04, {0x00, 0x01}) + "\r\n" +
                             HexRecord(0x8000, 0x00, {0xAB, 0xCD}) + "|" +
                             HexRecord(0, 0x05, {0x00, 0x01, 0x80, 0x00}) + "|:00000001FF";
    std::vector<std::string> records;
    int calls = 0;
    ASSERT_TRUE(ReadKwpDownloadRecords(text, records, [&calls] { ++calls; }));
    EXPECT_EQ(records, (std::vector<std::string>{"02 00 00 04 00 01 F9", "02 80 00 00 AB CD 06",
                                                 "04 00 00 05 00 01 80 00 76"}));
    EXPECT_EQ(calls, 4);  // before each record and before the end record
}

TEST(KwpDownloadRecordsTest, RefusedTextsLeaveNoRecord) {
    const std::string end = "|:00000001FF";
    const std::string longest = HexRecord(0, 0x00, std::vector<uint8_t>(249, 0x11));
    const std::string tooLong = HexRecord(0, 0x00, std::vector<uint8_t>(250, 0x11));
    const std::string data = HexRecord(0x8000, 0x00, {1, 2, 3});
    struct Case {
        std::string text;
        bool accepted;
        std::size_t records;
    };
    const Case cases[] = {
        {longest + end, true, 1},  // 254 bytes: one TransferData request
        {tooLong + end, false, 0},
        {HexRecord(0, 0x04, {0, 1}) + end, false, 0},  // places no data byte
        {HexRecord(0x8000, 0x00, {}) + end, false, 0},
        {":00000001FF", false, 0},
        {data, false, 0},  // no end record
        {data + end + "|" + data, false, 0},
        {data.substr(0, data.size() - 1) + "0" + end, false, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> records = {"left from before"};
        EXPECT_EQ(ReadKwpDownloadRecords(c.text, records, {}), c.accepted) << c.text;
        EXPECT_EQ(records.size(), c.records) << c.text;
    }
}

}  // namespace
}  // namespace diagbridge
