// The T40 stack's pure parts: response evaluation, login key, download classification and
// the preparation of software and data-set requests; and the virtual controller's own CRC.
#include <gtest/gtest.h>

#include "sim/t40/T40Crc.h"
#include "t40kalidor/CST40.h"
#include "t40kalidor/T40Ident.h"

namespace diagbridge {
namespace {

// Records written by hand (checksums included).
constexpr const char* kSegment18000 = ":020000021800E4";
constexpr const char* kLinear20000 = ":020000040002F8";
constexpr const char* kData8000 = ":10800000000102030405060708090A0B0C0D0E0FF8";
constexpr const char* kData0010 = ":0400100001020304E2";
constexpr const char* kEnd = ":00000001FF";
constexpr const char* kDataSetA0 = ":1000A000101112131415161718191A1B1C1D1E1FD8";
constexpr const char* kDataSetB0 = ":1000B000000421212121212121212121212121216E";  // length 0x0400
constexpr const char* kDataSetC0 = ":0400C0003131313178";
constexpr const char* kDataSetEnd = ":1018000000000000000000000000000000000000D8";

std::string Join(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(text.empty() ? "" : "|") + line;
    return text;
}

TEST(CST40ResponseTest, EvaluationOfResponseCodesAndStatusBytes) {
    const struct {
        const char* response;
        int32_t result;
    } cases[] = {
        {"", -104},
        {"0A", -100},                  // the boot loader runs
        {"F9 00 00 00 00 00", 0},      //
        {"F9 00 00 00 00 10", 0},      //
        {"F9 00 00 00 00 31", -1001},  // busy
        {"F9 00 00 00 00 40", -1000},  // erase in progress
        {"F9 00 00 00 00 22", -100},   // refused
        {"F9", 0},                     // missing status byte reads as 0
        {"49", 0},
        {"5A 01", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CST40::CheckResponse(c.response), c.result) << c.response;
    }
}

TEST(CST40LoginTest, KeyIsCrc16Mcrf4xxOfSevenSerialBytes) {
    // Catalogue check value of CRC-16/MCRF4XX: "123456789" gives 0x6F91; the login uses the
    // first seven bytes only ("1234567" gives 0x1AC8).
    const std::vector<uint8_t> nine = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::T40LoginCrc(nine.data(), nine.size()), 0x6F91);
    EXPECT_EQ(CST40::LoginKey(nine), 0x1AC8);
    EXPECT_EQ(CST40::LoginKey({}), 0x738F);  // seven zero bytes
    const std::vector<uint8_t> serial = {'S', 'N', '0', '0', '4', '7', '1', '1'};
    EXPECT_EQ(CST40::LoginKey(serial), 0x3411);
    EXPECT_EQ(sim::T40LoginCrc(serial.data(), 7), 0x3411);
}

TEST(CST40DownloadKindTest, SoftwareAndDataSetClasses) {
    const struct {
        const char* name;
        std::string text;
        uint32_t controllerLength;
        int32_t kind;
    } cases[] = {
        {"software above 0x28000", Join({kLinear20000, kData8000, kEnd}), 0, 2},
        {"software starting at 0x18000", Join({kSegment18000, kData8000, kEnd}), 0, -1},
        {"no data records", Join({kLinear20000, kEnd}), 0, -1},
        {"data set with end record", Join({"AB.CDEF.GH", kDataSetA0, kDataSetB0, kDataSetEnd}),
         0x0400, 6},
        {"data set without end record", Join({"AB.CDEF.GH", kDataSetA0, kDataSetB0}), 0x0400, 5},
        {"data set shorter than the controller's",
         Join({"AB.CDEF.GH", kDataSetA0, kDataSetB0, kDataSetEnd}), 0x0401, -1},
        {"data-set name of another shape", Join({"ABC.DE.F", kDataSetA0, kDataSetB0}), 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CST40::DetectDownloadKind(c.text, c.controllerLength), c.kind) << c.name;
    }
}

TEST(CST40PrepareTest, SoftwareRecordsBecome5ARequestsAtTheirLinearAddress) {
    CST40 stack(nullptr, "ISO_9141");
    ASSERT_TRUE(
        stack.PrepareSoftwareData(Join({kLinear20000, kData8000, kSegment18000, kData0010, kEnd})));
    EXPECT_EQ(
        stack.DownloadList(),
        (std::vector<std::string>{"5A 10 02 80 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
                                  "5A 04 01 80 10 01 02 03 04"}));  // segment 0x1800: 0x18010
}

TEST(CST40PrepareTest, MalformedHexIsRefusedWhole) {
    CST40 stack(nullptr, "ISO_9141");
    for (const char* bad : {":10800000000102030405060708090A0B0C0D0E0FF9",  // checksum
                            ":108000000001020304",                          // short
                            "10800000000102030405060708090A0B0C0D0E0FF8",   // no colon
                            ":1080000000010203040506070809ZZ0B0C0D0E0FF8"}) {
        EXPECT_FALSE(stack.PrepareSoftwareData(Join({kLinear20000, bad, kEnd}))) << bad;
        EXPECT_TRUE(stack.DownloadList().empty());
    }
}

TEST(CST40PrepareTest, DataSetRecordsBecome1ARequestsShiftedBy0x2000WithPartNumber) {
    CST40 stack(nullptr, "ISO_9141");
    ASSERT_TRUE(stack.PrepareDataSetData(Join(
        {"AB.CDEF.GH", ":0400000000000000FC", kDataSetA0, kDataSetB0, kDataSetEnd, kDataSetC0})));
    EXPECT_EQ(stack.PartNumberBytes(), "41 42 43 44 45 46 47 48");
    EXPECT_EQ(stack.DownloadList(),
              (std::vector<std::string>{
                  "1A 0A 04 20 A6 16 17 18 19 1A 1B 1C 1D 1E 1F",
                  "1A 10 04 20 B0 00 04 21 21 21 21 21 21 21 21 21 21 21 21 21 21"}));
}

TEST(CST40PrepareTest, DataSetWithoutStartRecordOrWithBadRecordIsRefused) {
    CST40 stack(nullptr, "ISO_9141");
    EXPECT_FALSE(stack.PrepareDataSetData(Join({"AB.CDEF.GH", kDataSetB0, kDataSetEnd})));
    EXPECT_FALSE(stack.PrepareDataSetData(Join({"AB.CDEF.GH", kDataSetA0, ":0400C0003131313179"})));
    EXPECT_FALSE(stack.PrepareDataSetData(Join({"AB.C", kDataSetA0, kDataSetB0})));
    EXPECT_TRUE(stack.DownloadList().empty());
}

TEST(T40IdentTest, FieldsSkipZeroBytesAndLengthIsDecimal) {
    std::vector<uint8_t> block(209, 0);
    block[83] = 'S';
    block[84] = 0;
    block[85] = 'N';
    block[45] = 0x04;
    block[46] = 0x01;
    EXPECT_EQ(T40IdentValue(block, "SERIALNUMBER"), "SN");
    EXPECT_EQ(T40IdentValue(block, "DATASETLENGTH"), "_1025");
    const std::string text = T40IdentText("H5", block, "T40H5");
    EXPECT_EQ(text.rfind("HARDWAREVERSION=H5|SOFTWAREPARTNUMBER=|", 0), 0u);
    EXPECT_NE(text.find("|DATASETLENGTH=_1025|ASSEMBLYNUMBER=|"), std::string::npos);
    EXPECT_NE(text.find("|RESERVE3=|ECU=T40H5|"), std::string::npos);
    // A short block: missing fields are empty, nothing is read past its end.
    EXPECT_EQ(T40IdentValue({0x40, 'A'}, "SERIALNUMBER"), "");
}

}  // namespace
}  // namespace diagbridge
