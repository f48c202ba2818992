#include <gtest/gtest.h>

#include "sim/kline/KwpDownloadImage.h"
#include "sim/kline/KwpServiceResponder.h"
#include "tests/sim/KwpTestSupport.h"

namespace diagbridge::sim {
namespace {

using test::Ask;
using test::Bytes;
using test::HexRecord;
using test::Prefixed;

constexpr uint8_t kData = 0x00;
constexpr uint8_t kLinear = 0x04;
const Bytes kEndRecord = {0x00, 0x00, 0x00, 0x01, 0xFF};
const Bytes kWholeSoftwareArea = {0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

Bytes Counting(uint8_t first, size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// A T60 in the programming session, unlocked, ready for RequestDownload.
class KwpDownloadTest : public ::testing::Test {
  protected:
    explicit KwpDownloadTest(KwpResponderOptions options = {})
        : responder_(test::Model("T60"), options) {
        test::Unlock(responder_, 0x85, 0xFD, KwpKeyRoutine::kMaker);
    }
    std::optional<Bytes> Transfer(const Bytes& record) {
        return Ask(responder_, Prefixed(0x36, record));
    }
    // Downloads records into the FRAM (upper address 0x40) as the tester does.
    void DownloadFram(const std::vector<Bytes>& records) {
        ASSERT_EQ(Ask(responder_, {0x34, 0x40, 0x01, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}),
                  (Bytes{0x74, 0xFF}));
        ASSERT_EQ(Transfer(HexRecord(0, kLinear, {0x00, 0x40})), Bytes{0x76});
        for (const Bytes& record : records) ASSERT_EQ(Transfer(record), Bytes{0x76});
        ASSERT_EQ(Transfer(kEndRecord), Bytes{0x76});
        ASSERT_EQ(Ask(responder_, {0x37}), Bytes{0x77});
    }
    KwpServiceResponder responder_;
};

TEST_F(KwpDownloadTest, StoresTheImageAndTheUploadReadsItBack) {
    const Bytes first = Counting(0x10, 16);
    const Bytes second = Counting(0xA0, 16);
    DownloadFram({HexRecord(0x0180, kData, first), HexRecord(0x0190, kData, second)});
    const KwpDownloadImage image = responder_.Image();
    EXPECT_TRUE(image.Complete());
    EXPECT_EQ(image.ByteCount(), 32u);
    EXPECT_EQ(image.RecordCount(), 4u);  // address, two data records, end of file
    ASSERT_EQ(image.Runs().size(), 1u);  // adjacent records form one run
    Bytes stored;
    ASSERT_TRUE(image.Read(0x400180, 32, stored));
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(stored, expected);
    EXPECT_FALSE(image.Read(0x400180, 33, stored));
    EXPECT_EQ(Ask(responder_, {0x23, 0x40, 0x01, 0x88, 0x10}),
              Prefixed(0x63, Bytes(expected.begin() + 8, expected.begin() + 24)));
    EXPECT_EQ(responder_.DownloadsCompleted(), 1u);
}

TEST_F(KwpDownloadTest, UpgradeStatusRunsToOkAfterTheDownload) {
    DownloadFram({HexRecord(0x0180, kData, Counting(0, 4))});
    const Bytes expected[] = {{0x61, 0x03, 0x01, 0},   {0x61, 0x03, 0x01, 25},
                              {0x61, 0x03, 0x01, 50},  {0x61, 0x03, 0x01, 75},
                              {0x61, 0x03, 0x02, 100}, {0x61, 0x03, 0x02, 100}};
    for (const Bytes& status : expected) EXPECT_EQ(Ask(responder_, {0x21, 0x03}), status);
}

class KwpFailingUpgradeTest : public KwpDownloadTest {
  protected:
    KwpFailingUpgradeTest() : KwpDownloadTest(FailingUpgrade()) {}
    static KwpResponderOptions FailingUpgrade() {
        KwpResponderOptions options;
        options.upgradeFails = true;
        return options;
    }
};

TEST_F(KwpFailingUpgradeTest, UpgradeStatusEndsAsFailed) {
    DownloadFram({HexRecord(0x0180, kData, Counting(0, 4))});
    std::optional<Bytes> status;
    for (int poll = 0; poll < 5; ++poll) status = Ask(responder_, {0x21, 0x03});
    EXPECT_EQ(status, (Bytes{0x61, 0x03, 0x03, 100}));
}

TEST_F(KwpDownloadTest, SoftwareDownloadOverTheWholeAreaAcceptsSegmentAddresses) {
    ASSERT_EQ(Ask(responder_, kWholeSoftwareArea), (Bytes{0x74, 0xFF}));
    EXPECT_EQ(Transfer(HexRecord(0, 0x02, {0x08, 0x00})), Bytes{0x76});  // segment 0x800
    EXPECT_EQ(Transfer(HexRecord(0x0000, kData, {1, 2, 3})), Bytes{0x76});
    EXPECT_EQ(Transfer(HexRecord(0, 0x05, {0, 0, 0x80, 0})), Bytes{0x76});  // start address
    EXPECT_EQ(Transfer(kEndRecord), Bytes{0x76});
    EXPECT_EQ(Ask(responder_, {0x37}), Bytes{0x77});
    Bytes stored;
    EXPECT_TRUE(responder_.Image().Read(0x8000, 3, stored));
    EXPECT_EQ(stored, (Bytes{1, 2, 3}));
}

struct RecordCase {
    const char* what;
    Bytes record;
    uint8_t code;
};

Bytes WithWrongChecksum() {
    Bytes record = HexRecord(0x0180, kData, {1, 2, 3, 4});
    ++record.back();
    return record;
}

Bytes WithWrongCount() {
    Bytes record = HexRecord(0x0180, kData, {1, 2, 3, 4});
    record[0] = 5;
    --record.back();  // checksum fits the wrong count
    return record;
}

// After RequestDownload into the FRAM, the address record 0x40 and one record at 0x0180.
const RecordCase kRecordCases[] = {
    {"wrong checksum", WithWrongChecksum(), 0x77},
    {"count byte does not fit the record", WithWrongCount(), 0x79},
    {"too short for a record", {0x00, 0x01, 0x80, 0x00}, 0x12},
    {"empty transfer", {}, 0x12},
    {"unknown record type", HexRecord(0x0180, 0x07, {1}), 0x76},
    {"address record with three bytes", HexRecord(0, kLinear, {0, 0x40, 0}), 0x79},
    {"start record with two bytes", HexRecord(0, 0x03, {0, 0}), 0x79},
    {"below the requested address", HexRecord(0x0100, kData, {1}), 0x74},
    {"last bytes of the FRAM", HexRecord(0xFFF0, kData, Counting(0, 16)), 0x00},
    {"data wrapping its 64 KiB window", HexRecord(0xFFFE, kData, {1, 2, 3}), 0x74},
    {"record sent twice", HexRecord(0x0180, kData, {9, 9}), 0x22},
    {"overlapping the stored record", HexRecord(0x0181, kData, {9, 9}), 0x22},
};

TEST_F(KwpDownloadTest, ChecksEveryRecord) {
    for (const RecordCase& c : kRecordCases) {
        KwpServiceResponder responder(test::Model("T60"), {});
        test::Unlock(responder, 0x85, 0xFD, KwpKeyRoutine::kMaker);
        ASSERT_EQ(Ask(responder, {0x34, 0x40, 0x01, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}),
                  (Bytes{0x74, 0xFF}));
        ASSERT_EQ(Ask(responder, Prefixed(0x36, HexRecord(0, kLinear, {0x00, 0x40}))), Bytes{0x76});
        ASSERT_EQ(Ask(responder, Prefixed(0x36, HexRecord(0x0180, kData, {7, 7}))), Bytes{0x76});
        const Bytes expected = c.code == 0 ? Bytes{0x76} : Bytes{0x7F, 0x36, c.code};
        EXPECT_EQ(Ask(responder, Prefixed(0x36, c.record)), expected) << c.what;
        // A refused record leaves the download open and the stored bytes as they were.
        const KwpDownloadImage image = responder.Image();
        EXPECT_TRUE(image.Active()) << c.what;
        Bytes stored;
        EXPECT_TRUE(image.Read(0x400180, 2, stored));
        EXPECT_EQ(stored, (Bytes{7, 7})) << c.what;
    }
}

TEST_F(KwpDownloadTest, ChecksTheRequestAndTheSequence) {
    const struct {
        const char* what;
        Bytes request;
        Bytes answer;
    } cases[] = {
        {"wrong length", {0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x7F, 0x34, 0x12}},
        {"compressed data", {0x34, 0xFF, 0xFF, 0xFF, 0x10, 0xFF, 0xFF, 0xFF}, {0x7F, 0x34, 0x41}},
        {"address with no memory",
         {0x34, 0x00, 0x10, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
         {0x7F, 0x34, 0x42}},
        {"size beyond the memory",
         {0x34, 0x40, 0x5E, 0x00, 0xFF, 0x10, 0x00, 0x00},
         {0x7F, 0x34, 0x43}},
        {"data set area", {0x34, 0x40, 0x5E, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, {0x74, 0xFF}},
        {"second request while one runs", kWholeSoftwareArea, {0x7F, 0x34, 0x22}},
        {"exit before the end-of-file record", {0x37}, {0x7F, 0x37, 0x22}},
        {"end-of-file record", Prefixed(0x36, kEndRecord), {0x76}},
        {"record after the end-of-file record",
         Prefixed(0x36, HexRecord(0x5E00, kData, {1})),
         {0x7F, 0x36, 0x22}},
        {"exit with a parameter", {0x37, 0x00}, {0x7F, 0x37, 0x12}},
        {"exit", {0x37}, {0x77}},
        {"second exit", {0x37}, {0x7F, 0x37, 0x22}},
        {"transfer after the exit", Prefixed(0x36, kEndRecord), {0x7F, 0x36, 0x22}},
    };
    for (const auto& c : cases) EXPECT_EQ(Ask(responder_, c.request), c.answer) << c.what;
}

TEST_F(KwpDownloadTest, StoppedCommunicationAbandonsTheDownload) {
    ASSERT_EQ(Ask(responder_, kWholeSoftwareArea), (Bytes{0x74, 0xFF}));
    ASSERT_EQ(Transfer(HexRecord(0x8000, kData, {1})), Bytes{0x76});
    responder_.CommunicationChanged(false);
    EXPECT_FALSE(responder_.Image().Active());
    EXPECT_FALSE(responder_.Image().Complete());
    EXPECT_EQ(Transfer(kEndRecord), (Bytes{0x7F, 0x36, 0x22}));
    EXPECT_EQ(responder_.DownloadsCompleted(), 0u);
}

TEST(KwpDownloadSecurityTest, OptionLetsDownloadsRunLocked) {
    KwpResponderOptions options;
    options.writesNeedSecurity = false;
    KwpServiceResponder responder(test::Model("T60"), options);
    ASSERT_EQ(Ask(responder, {0x10, 0x85}), (Bytes{0x50, 0x85}));
    EXPECT_EQ(Ask(responder, kWholeSoftwareArea), (Bytes{0x74, 0xFF}));
}

// Programming needs a session other than the default one, whatever the security option.
TEST(KwpDownloadSecurityTest, DefaultSessionRefusesRequestDownload) {
    KwpResponderOptions options;
    options.writesNeedSecurity = false;
    KwpServiceResponder responder(test::Model("T60"), options);
    EXPECT_EQ(Ask(responder, kWholeSoftwareArea), (Bytes{0x7F, 0x34, 0x80}));
    ASSERT_EQ(Ask(responder, {0x10, 0x85}), (Bytes{0x50, 0x85}));
    ASSERT_EQ(Ask(responder, {0x10, 0x81}), (Bytes{0x50, 0x81}));
    EXPECT_EQ(Ask(responder, kWholeSoftwareArea), (Bytes{0x7F, 0x34, 0x80}));
}

}  // namespace
}  // namespace diagbridge::sim
