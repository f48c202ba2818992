#include "tools/diagbridge/TaskData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "drivers/xl/CandumpWriter.h"
#include "tools/diagbridge/ResultCodes.h"

namespace diagbridge::cli {
namespace {

class HexFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& text) {
        std::ofstream(path_) << text;
        return path_;
    }
    void TearDown() override { std::filesystem::remove(path_); }

    // One file per test: ctest runs the tests of this program side by side.
    std::string path_ = ::testing::TempDir() +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
};

TEST_F(HexFileTest, GoodFileJoinsRecordsAndCountsDataBytes) {
    const std::string path =
        Write(":020000040040BA\r\n:0400000001020304F2\n\n:02000400AABB95\n:00000001ff\n:garbage\n");
    HexFile hex;
    std::string error;
    bool missing = true;
    ASSERT_TRUE(ReadHexFile(path, hex, error, missing)) << error;
    EXPECT_FALSE(missing);
    EXPECT_EQ(hex.text, ":020000040040BA|:0400000001020304F2|:02000400AABB95|:00000001FF|");
    EXPECT_EQ(hex.dataBytes, 6u);
}

TEST_F(HexFileTest, BadRecordsNameTheLineAndWhatIsWrong) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {":0400000001020304F2\n:0400040001020304F1\n:00000001FF\n",
         ":2: bad checksum F1, expected EE"},
        {"0400000001020304F2\n", ":1: record does not start with ':'"},
        {":0400000001020304F\n", ":1: odd number of hex digits"},
        {":04000000010203G4F2\n", ":1: not a hex digit at column 16"},
        {":0500000001020304F1\n", ":1: record length does not match its data"},
        {":0000000F1\n", ":1: odd number of hex digits"},
        {":00000009F7\n", ":1: unknown record type 9"},
        {":0400000001020304F2\n", ": no end record (:00000001FF)"},
    };
    for (const Case& c : cases) {
        const std::string path = Write(c.text);
        HexFile hex;
        std::string error;
        bool missing = true;
        EXPECT_FALSE(ReadHexFile(path, hex, error, missing)) << c.text;
        EXPECT_FALSE(missing);
        EXPECT_EQ(error, path + c.error) << c.text;
    }
}

TEST_F(HexFileTest, MissingFileIsReportedAsMissing) {
    HexFile hex;
    std::string error;
    bool missing = false;
    EXPECT_FALSE(ReadHexFile(path_ + ".absent", hex, error, missing));
    EXPECT_TRUE(missing);
    EXPECT_EQ(error, path_ + ".absent: cannot open the file");
}

TEST(UploadTest, SectionsKeepValuesAndRecordLines) {
    const std::vector<UploadSection> sections =
        ParseUpload("[KOBOLD]|Version=4.x|TheUser=a@b|[FRAM]|:020000040040BA|:00000001FF|[Empty]|");
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].name, "KOBOLD");
    EXPECT_EQ(sections[0].values.size(), 2u);
    EXPECT_EQ(sections[1].lines.size(), 2u);
    EXPECT_EQ(UploadJson(sections),
              "[{\"name\":\"KOBOLD\",\"values\":{\"Version\":\"4.x\",\"TheUser\":\"a@b\"},"
              "\"lines\":[]},{\"name\":\"FRAM\",\"values\":{},\"lines\":[\":020000040040BA\","
              "\":00000001FF\"]},{\"name\":\"Empty\",\"values\":{},\"lines\":[]}]");
}

TEST(UploadTest, LinesBeforeAnyHeadingFormAnUnnamedSection) {
    const std::vector<UploadSection> sections = ParseUpload("A=1\nfree text\n[X]\n");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].name, "");
    EXPECT_EQ(sections[0].values.size(), 1u);
    EXPECT_EQ(sections[0].lines, std::vector<std::string>{"free text"});
}

TEST(TroubleCodeTest, ResponsesOfEachProtocol) {
    struct Case {
        const char* protocol;
        const char* response;
        bool reads;
        std::vector<uint32_t> codes;
    };
    const Case cases[] = {
        {"UDS_ISO_14229", "59 02 FF 01 23 45 2F C1 00 00 08", true, {0x012345, 0xC10000}},
        {"UDS_ISO_14229", "59 02 FF", true, {}},
        {"UDS_ISO_14229", "59 02 FF 01 23 45", false, {}},  // a record cut short
        {"UDS_ISO_14229", "7F 19 31", false, {}},
        {"UDS_ISO_14229", "59", false, {}},
        {"KWP2000", "58 02 12 34 E0 56 78 20", true, {0x1234, 0x5678}},
        {"KWP2000", "58 00", true, {}},
        {"KWP2000", "58 01 12 34", false, {}},
    };
    for (const Case& c : cases) {
        const DtcRequest* request = DtcRequestOf(c.protocol);
        ASSERT_NE(request, nullptr);
        std::vector<TroubleCode> codes;
        ASSERT_EQ(ParseTroubleCodes(*request, c.response, codes), c.reads) << c.response;
        if (!c.reads) continue;
        std::vector<uint32_t> read;
        for (const TroubleCode& code : codes) read.push_back(code.code);
        EXPECT_EQ(read, c.codes) << c.response;
    }
    EXPECT_EQ(DtcRequestOf("ISO_9141"), nullptr);
}

TEST(ResultCodeTest, NamesAndExitCodesByKind) {
    struct Case {
        int32_t result;
        const char* name;
        int exitCode;
    };
    const Case cases[] = {
        {0, "OK", kExitOk},
        {5, "OK", kExitOk},
        {-1, "COMMUNICATION_FAILURE", kExitNoAnswer},
        {-2, "CONNECTION_LOST", kExitConnectionLost},
        {-3, "BAD_PARAMETER", kExitRejected},
        {-4, "NOT_PERMITTED", kExitNotPermitted},
        {-5, "TIMEOUT", kExitTimeout},
        {-6, "ABANDONED", kExitAbandoned},
        {-7, "FAILURE", kExitNoAdapter},
        {-50, "HEX_MALFORMED", kExitBadHex},
        {-53, "TRANSFER_DATA_FAILED", kExitRefused},
        {-100, "NEGATIVE_RESPONSE", kExitRefused},
        {-102, "KEY_REFUSED", kExitRefused},
        {-999, "ERROR_999", kExitRefused},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResultName(c.result), c.name) << c.result;
        EXPECT_EQ(ExitCodeFor(c.result), c.exitCode) << c.result;
    }
}

TEST(CandumpTest, FrameTextOfStandardAndExtendedIdentifiers) {
    xl::CanFrame standard;
    standard.id = 0x7E0;
    standard.dlc = 3;
    standard.data[0] = 0x02;
    standard.data[1] = 0x3E;
    standard.data[2] = 0x00;
    EXPECT_EQ(xl::CandumpFrameText(standard), "7E0#023E00");
    xl::CanFrame extended;
    extended.id = 0x18DAF103 | xl::kExtendedId;
    EXPECT_EQ(xl::CandumpFrameText(extended), "18DAF103#");
}

}  // namespace
}  // namespace diagbridge::cli
