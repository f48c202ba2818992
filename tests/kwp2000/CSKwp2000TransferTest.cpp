// Upload, identification and download of the KWP2000 object against scripted answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>

#include "KwpStackSupport.h"
#include "engine/CConvert.h"
#include "engine/IntelHexReader.h"
#include "support/IntelHexCases.h"

namespace diagbridge::testing {
namespace {

constexpr const char* kQuiet = "KWP2000|RS232=1|PROGRESS=1|TESTERPRESENT=0";

KwpStackFixture::Responder Table(std::map<std::string, std::string> table) {
    return [table](const std::string& request) {
        const auto it = table.find(request);
        return it != table.end() ? it->second : KwpT60Answer(request);
    };
}

KwpStackFixture::Options Quiet(KwpStackFixture::Responder respond) {
    KwpStackFixture::Options options;
    options.parameter = kQuiet;
    options.respond = std::move(respond);
    return options;
}

// ":LLAAAATT<data>CC" of one record.
std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string text = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X", b);
        text += digits;
    }
    return text;
}

std::string Linear(uint16_t upper) {
    return Record(0, 0x04, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

// The record as the TransferData request carries it: "36" and the record's bytes.
std::string Transfer(const std::string& record) {
    std::string text = "36";
    for (std::size_t i = 1; i + 1 < record.size(); i += 2) text += " " + record.substr(i, 2);
    return text;
}

// A positive answer of count data bytes after the service id.
std::string Answer(const char* service, std::size_t count) {
    std::string text = service;
    for (std::size_t i = 0; i < count; ++i) text += " 00";
    return text;
}

// A HEX text with one data byte at each address.
std::string HexAt(std::initializer_list<uint32_t> addresses) {
    std::string text;
    for (uint32_t address : addresses) {
        text += Linear(static_cast<uint16_t>(address >> 16)) + "|";
        text += Record(static_cast<uint16_t>(address & 0xFFFF), 0x00, {0x5A}) + "|";
    }
    return text + ":00000001FF";
}

int32_t Download(KwpStackFixture& f, const std::string& hex, int32_t type = 4,
                 const std::string& path = {}) {
    return f.Run(kCommandDownload, [&](ServiceOrder& o) {
        o.hexText = hex;
        o.downloadType = type;
        o.hexFilePath = path;
    });
}

std::string FirstWith(const std::vector<std::string>& texts, const std::string& head) {
    for (const std::string& t : texts) {
        if (t.rfind(head, 0) == 0) return t;
    }
    return {};
}

// ---------------------------------------------------------------- download type

struct TypeCase {
    const char* name;
    std::string hex;
    const char* framLayout;  // answer to 21 01
    int32_t type;            // order type
    int32_t result;
    const char* detected;  // progress text, empty when none is expected
    const char* requestDownload;
};

class DownloadType : public ::testing::TestWithParam<TypeCase> {};

TEST_P(DownloadType, DetectionTable) {
    const TypeCase& c = GetParam();
    KwpStackFixture f(Quiet(Table({{"21 01", c.framLayout}, {"1A 8F", "5A 8F 20 23 01 02"}})));
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(Download(f, c.hex, c.type), c.result);
    if (c.detected[0] != '\0') {
        EXPECT_TRUE(f.HasProgress(c.detected)) << c.detected;
    }
    EXPECT_EQ(FirstWith(f.Requests(), "34"), c.requestDownload);
}

INSTANTIATE_TEST_SUITE_P(
    Kwp2000, DownloadType,
    ::testing::Values(
        TypeCase{"SoftwareAndDataset", HexAt({0x8000, 0x406DFF}), "61 01", 4, 0,
                 "ServiceDownload: Auto detected HexFile Type: 1", "34 FF FF FF FF FF FF FF"},
        TypeCase{"Software", HexAt({0x8000, 0x405DFE}), "61 01", 4, 0,
                 "ServiceDownload: Auto detected HexFile Type: 2", "34 FF FF FF FF FF FF FF"},
        TypeCase{"SoftwareHigh", HexAt({0x18000, 0x20000}), "61 01", 4, 0,
                 "ServiceDownload: Auto detected HexFile Type: 2", "34 FF FF FF FF FF FF FF"},
        TypeCase{"Dataset", HexAt({0x405E00, 0x406DFF}), "61 01", 4, 0,
                 "ServiceDownload: Auto detected HexFile Type: 3", "34 40 5E 00 FF FF FF FF"},
        TypeCase{"SoftwareTooLong", HexAt({0x8000, 0x406E00}), "61 01", 4, -7,
                 "ServiceDownload: ERROR Wrong HexFile Type detected! Please check your "
                 "parameters!!",
                 ""},
        TypeCase{"OddStart", HexAt({0x9000}), "61 01", 4, -7, "", ""},
        TypeCase{"Fram", HexAt({0x400200, 0x400300}), "61 01 40 01 80 00 FE 80", 4, 0,
                 "ServiceDownload: Auto detected HexFile Type: 7", "34 40 02 00 FF FF FF FF"},
        TypeCase{"FramGiven", HexAt({0x400200}), "61 01 40 01 80 00 FE 80", 7, 0,
                 "ServiceDownload: FRAM Data detected", "34 40 02 00 FF FF FF FF"},
        TypeCase{"FramGivenOutside", HexAt({0x8000}), "61 01 40 01 80 00 FE 80", 7, -7, "", ""},
        TypeCase{"GivenDataset", HexAt({0x8000}), "61 01", 3, 0, "ServiceDownload: DS detected",
                 "34 40 5E 00 FF FF FF FF"},
        TypeCase{"Rejected5", HexAt({0x8000}), "61 01", 5, -7, "", ""},
        TypeCase{"Rejected8", HexAt({0x8000}), "61 01", 8, -7, "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------- records

TEST(Kwp2000Download, DamagedRecordsFailBeforeAnythingIsSent) {
    const std::string good = Record(0x8000, 0x00, {1, 2, 3});
    std::string badChecksum = good;
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    const std::string badLength = ":04" + good.substr(3);
    const std::string lines[] = {
        badChecksum,
        badLength,
        good.substr(0, 9) + "," + good.substr(9),
        good.substr(0, good.size() - 1),
        good + ";",
    };
    std::vector<std::string> texts;
    for (const std::string& line : lines) texts.push_back(Linear(0) + "|" + line + "|:00000001FF");
    texts.push_back(":00000001FF");  // no data at all
    for (const std::string& text : texts) {
        KwpStackFixture f(Quiet(KwpT60Answer));
        ASSERT_EQ(f.CreateAndConnect(), 0);
        f.ClearSent();
        EXPECT_EQ(Download(f, text, 4), -50) << text;
        EXPECT_TRUE(f.Requests().empty()) << text;
        EXPECT_TRUE(f.HasProgress("ServiceDownload: Convert hexdata failed"));
    }
}

TEST(Kwp2000Download, WholeSequenceWithDateRecord) {
    KwpStackFixture f(Quiet(Table({{"1A 8F", "5A 8F 20 23 01 02 AA BB"}})));
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    const std::string a = Linear(0);
    const std::string b = Record(0x8000, 0, {1, 2, 3});
    const std::string c = Record(0x8003, 0, {4});
    const std::string hex = " " + a + "|" + b + "|" + c + "|:00000001ff|";
    EXPECT_EQ(Download(f, hex, 2, "C:\\sw.hex"), 0);
    EXPECT_EQ(f.Requests(), (std::vector<std::string>{
                                "34 FF FF FF FF FF FF FF",
                                Transfer(a),
                                Transfer(b),
                                Transfer(c),
                                "36 00 00 00 01 FF",
                                "37",
                                "1A 8F",
                                "3B 8F 20 24 03 07 AA BB",
                            }));
    EXPECT_TRUE(f.HasProgress("ServiceDownload SW: C:\\sw.hex"));
    EXPECT_TRUE(f.HasProgress("ServiceDownload: Data transfer 66 %"));
    EXPECT_TRUE(f.HasProgress("ServiceDownload: finished"));
}

// The download sends each record before the end record as it stands and the end record
// once; a text every protocol refuses sends nothing.
TEST(Kwp2000Download, ReadsEveryTextOfTheSharedTable) {
    for (const test::IntelHexCase& c : test::IntelHexCases()) {
        KwpStackFixture f(Quiet(Table({{"1A 8F", "5A 8F 20 23 01 02"}})));
        ASSERT_EQ(f.CreateAndConnect(), 0);
        f.ClearSent();
        const int32_t result = Download(f, c.text, 2);
        if (!c.wellFormed || c.bytes == 0) {
            EXPECT_EQ(result, -50) << c.name;
            EXPECT_TRUE(f.Requests().empty()) << c.name;
            continue;
        }
        EXPECT_EQ(result, 0) << c.name;
        std::vector<std::string> expected;
        IntelHexReader reader(c.text);
        IntelHexRecord record;
        while (reader.Next(record) == IntelHexStep::kRecord) {
            expected.push_back("36 " + BytesToHexString(record.bytes.data(), record.bytes.size()));
        }
        expected.push_back("36 00 00 00 01 FF");
        std::vector<std::string> transfers;
        for (const std::string& request : f.Requests()) {
            if (request.rfind("36 ", 0) == 0) transfers.push_back(request);
        }
        EXPECT_EQ(transfers, expected) << c.name;
    }
}

struct StepCase {
    const char* refused;
    int32_t result;
};

TEST(Kwp2000Download, RefusedStepsGiveTheirCodes) {
    const std::string record = Record(0x8000, 0, {1, 2, 3});
    const std::string transfer = Transfer(record);
    const StepCase cases[] = {
        {"34 FF FF FF FF FF FF FF", -52},
        {transfer.c_str(), -53},
        {"36 00 00 00 01 FF", -100},
        {"37", -54},
        {"1A 8F", -57},
        {"3B 8F 20 24 03 07", -58},
    };
    for (const StepCase& c : cases) {
        const std::string refused = c.refused;
        KwpStackFixture f(Quiet([refused](const std::string& request) {
            if (request == refused) return std::string("7F 00 22");
            if (request == "1A 8F") return std::string("5A 8F 20 23 01 02");
            return KwpT60Answer(request);
        }));
        ASSERT_EQ(f.CreateAndConnect(), 0);
        EXPECT_EQ(Download(f, record + "|:00000001FF", 2), c.result) << c.refused;
    }
}

TEST(Kwp2000Download, ShortDateAnswerIsUnreadable) {
    KwpStackFixture f(Quiet(Table({{"1A 8F", "5A 8F 20"}})));
    ASSERT_EQ(f.CreateAndConnect(), 0);
    EXPECT_EQ(Download(f, Record(0x8000, 0, {1, 2, 3}) + "|:00000001FF", 2), -57);
}

// A clock that moves on by step at every reading, so a parse takes time.
class TickingClock final : public platform::IClock {
  public:
    explicit TickingClock(uint32_t step) : step_(step) {}
    uint32_t TickMs() override { return now_.fetch_add(step_) + step_; }
    bool SleepMs(uint32_t ms, platform::CancelFlag* cancel) override {
        now_.fetch_add(ms);
        return cancel == nullptr || !cancel->IsSet();
    }
    void BusyWaitMs(uint32_t ms) override { now_.fetch_add(ms); }

  private:
    uint32_t step_;
    std::atomic<uint32_t> now_{0};
};

TEST(Kwp2000Download, LongParseKeepsTheSessionAlive) {
    KwpStackFixture::Options options = Quiet(Table({{"1A 8F", "5A 8F 20 23 01 02"}}));
    options.parameter = "KWP2000|RS232=1|TESTERPRESENT=2000";
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    // Run the service on this thread, so the clock moves only with the parse.
    f.Object().StopWorker();
    f.Object().Cancel().Reset();
    f.ClearSent();
    std::string hex;
    constexpr int kLines = 2000;
    for (int i = 0; i < kLines; ++i) hex += Record(static_cast<uint16_t>(0x8000 + i), 0, {1}) + "|";
    TickingClock clock(5);  // 2000 lines: about 10 s of parsing
    platform::ScopedClock scoped(clock);
    ServiceOrder order;
    order.command = kCommandDownload;
    order.downloadType = 2;
    order.hexText = hex + ":00000001FF";
    EXPECT_EQ(f.Object().ServiceDownload(order), 0);
    const std::vector<std::string> requests = f.Requests();
    const auto first = std::find(requests.begin(), requests.end(), "34 FF FF FF FF FF FF FF");
    ASSERT_NE(first, requests.end());
    const auto testerPresents = std::count(requests.begin(), first, "3E");
    EXPECT_GE(testerPresents, 3);
    EXPECT_LE(testerPresents, 6);
}

// ---------------------------------------------------------------- upgrade status

TEST(Kwp2000Download, UpgradeStatusIsPolledUntilOk) {
    int polls = 0;
    KwpStackFixture f(Quiet([&polls](const std::string& request) {
        if (request == "21 03") return std::string(++polls < 3 ? "61 03 01 32" : "61 03 02 64");
        if (request == "1A 8F") return std::string("5A 8F 20 23 01 02");
        return KwpT60Answer(request);
    }));
    f.ecu->Parameters().kwp.upgradeStatusSupported = true;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    EXPECT_EQ(Download(f, Record(0x8000, 0, {1, 2, 3}) + "|:00000001FF", 2), 0);
    EXPECT_EQ(polls, 3);
    EXPECT_TRUE(f.HasProgress("Upgrade status Busy: 50 %"));
    EXPECT_TRUE(f.HasProgress("Upgrade status: 2 100 %"));
    EXPECT_TRUE(f.HasProgress("Upgrade status: Ok 100 %"));
}

TEST(Kwp2000Download, SilentUpgradeStatusGivesUpWithoutFailingTheDownload) {
    int polls = 0;
    KwpStackFixture f(Quiet([&polls](const std::string& request) {
        if (request == "21 03") {
            ++polls;
            return std::string("7F 21 22");
        }
        if (request == "1A 8F") return std::string("5A 8F 20 23 01 02");
        return KwpT60Answer(request);
    }));
    f.ecu->Parameters().kwp.upgradeStatusSupported = true;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    EXPECT_EQ(Download(f, Record(0x8000, 0, {1, 2, 3}) + "|:00000001FF", 2), 0);
    EXPECT_EQ(polls, 3);
    EXPECT_TRUE(f.HasProgress("Upgrade status failed"));
}

TEST(Kwp2000Download, LoaderWaitsForTheRestart) {
    KwpStackFixture f(Quiet(Table({{"1A 8F", "5A 8F 20 23 01 02"}})));
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(Download(f, Record(0x8000, 0, {1, 2, 3}) + "|:00000001FF", 0), 0);
    EXPECT_EQ(f.Requests().back(), "3E");
    EXPECT_TRUE(f.HasProgress("Upgrade status OK"));
}

// ---------------------------------------------------------------- upload

TEST(Kwp2000Upload, CollectsMemoryIdentEventsAndSid) {
    KwpStackFixture::Options options = Quiet(Table({
        {"21 02", "61 02 40 01 80 00 00 C0"},
        {"23 40 01 80 80", Answer("63", 128)},
        {"23 40 02 00 40", Answer("63", 64)},
        {"1A 80", "5A 80 A0 93 A1"},
        {"1A A0", "5A A0 41 00 42"},
        {"1A A1", "7F 1A 12"},
        {"1A 8F", "5A 8F 20 24 03 07"},
        {"18 00 FF FF", "58 02 12 34 20 56 78 20"},
        {"17 12 34", "57 01 12 34 20"},
        {"17 56 78", "57 01 56 78 20 01"},
        {"21 05", "61 05 11"},
    }));
    KwpStackFixture f(options);
    f.ecu->Parameters().kwp.sidRequests = {"21_05"};
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(f.Run(kCommandUpload), 0);
    const std::vector<std::string> requests = f.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "23 40 01 80 80"), 1);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "23 40 02 00 40"), 1);
    EXPECT_EQ(f.ecu->Ident(CEcu::kIdentProductionDate), "2024-03-07");
    EXPECT_EQ(f.ecu->UploadText(),
              "[Date]2024-03-07|[FRAM]|4194688:128|4194816:64|[IdentMem]|IdentA0=AB|"
              "INVALID_IdentA1=|[EventMem]|58 02 12 34 20 56 78 20|5 bytes|6 bytes|[SID]|"
              "SID_21_05= 61 05 11|");
    EXPECT_TRUE(f.HasProgress("Upload Memory: 66 %"));
    EXPECT_TRUE(f.HasProgress("Upload Memory: 100 %"));
}

TEST(Kwp2000Upload, ModelIdentTableIsReadByLocalIdentifier) {
    KwpStackFixture f(Quiet(Table({{"21 02", "61 02"},
                                   {"21 87", "61 87 41 42"},
                                   {"21 9B", "7F 21 31"},
                                   {"18 00 FF FF", "58 00"}})));
    f.ecu->UseIdentNames({{0x6087, "Artikelnummer"}, {0x609B, "Hardwarekennung"}});
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(f.Run(kCommandUpload), 0);
    const std::vector<std::string> requests = f.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "1A 80"), 0);
    EXPECT_NE(f.ecu->UploadText().find("[IdentMem]|Ident87=AB|INVALID_Ident9B=|"),
              std::string::npos);
}

TEST(Kwp2000Upload, ShortMemoryAnswerAndFailingSteps) {
    struct Case {
        const char* request;
        const char* answer;
        int32_t result;
        const char* progress;
    };
    const Case cases[] = {
        {"23 40 01 80 40", "63 01 02", -101, "ServiceUpload: Upload Memory Error: -101"},
        {"21 02", "7F 21 31", -100, "ServiceUpload: Upload Memory Error: -100"},
        {"1A 80", "7F 1A 31", -100, "ServiceUpload: Upload Ident Data Error: -100"},
        {"18 00 FF FF", "58 03 12 34 20", -101, "ServiceUpload: Upload Event Data Error: -101"},
        {"21 05", "7F 21 31", -100, "ServiceUpload: Upload SID Data Error: -100"},
    };
    for (const Case& c : cases) {
        std::map<std::string, std::string> table = {{"21 02", "61 02 40 01 80 00 00 40"},
                                                    {"23 40 01 80 40", Answer("63", 64)},
                                                    {"1A 80", "5A 80"},
                                                    {"18 00 FF FF", "58 00"}};
        table[c.request] = c.answer;
        KwpStackFixture f(Quiet(Table(table)));
        f.ecu->Parameters().kwp.sidRequests = {"21_05"};
        ASSERT_EQ(f.CreateAndConnect(), 0);
        EXPECT_EQ(f.Run(kCommandUpload), c.result) << c.request;
        EXPECT_TRUE(f.HasProgress(c.progress)) << c.progress;
    }
}

TEST(Kwp2000ObjectInfo, FieldsWhenConnectedAndConfigurationOtherwise) {
    KwpStackFixture f(Quiet(Table({{"1A 8C", "5A 8C 31 32"},
                                   {"1A 8F", "5A 8F 20 24 03 07"},
                                   {"1A BF", "5A BF 01 02"},
                                   {"1A 95", "7F 1A 31"}})));
    ASSERT_EQ(f.CreateAndConnect(), 0);
    EXPECT_EQ(f.Run(kCommandGetObjectInfo), 0);
    EXPECT_EQ(f.ecu->IdentText(),
              "NAME=T60|PROTOCOL=KWP2000|DEVICE=SCRIPTED 1|OBJECTTYPE=XXXXX|"
              "HARDWAREVERSION=T60|HARDWAREID=XXXXX|SERIALNUMBER=12|PRODUCTIONDATE=2024-03-07|"
              "SOFTWARE=XXXXX|DATASET=XXXXX|SCSW=XXXXX|LOADER=XXXXX|ECU=0x18h|TESTER=0xFAh|"
              "TIM=5,50,0,5000,0|");
    // Disconnected: the configuration with what the search found.
    ASSERT_EQ(f.Run(kCommandDisconnect), 0);
    f.ClearSent();
    EXPECT_EQ(f.Run(kCommandGetObjectInfo), 0);
    EXPECT_TRUE(f.Requests().empty());
    EXPECT_EQ(f.ecu->IdentText(),
              "NAME=T60|PROTOCOL=KWP2000|DEVICE=SCRIPTED 1|NOE=1|HARDWAREID0_=|"
              "HARDWAREVERSION0_=T60|TESTER0_=0xFAh|ECU0_=0x18h|");
    EXPECT_EQ(f.ecu->Ident(CEcu::kIdentOemId), "258");
}

}  // namespace
}  // namespace diagbridge::testing
