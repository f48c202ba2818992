#include "uds/CSUdsIso14229.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "uds/Crc32.h"
#include "uds/UdsStackSupport.h"

namespace diagbridge {
namespace {

using testing::PositiveEcho;
using testing::UdsStackFixture;

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(UdsParametersTest, KeysDefaultsAndAdapterChoice) {
    struct Case {
        const char* parameter;
        bool accepted;
        bool samtec;
        bool vector;
        const char* configuration;
    };
    const Case cases[] = {
        {"UDS_ISO_14229", true, true, false,
         "UDS_ISO_14229|BAUDRATE=666666|TERMINATION=0|BUS=2|DEVICE=0|DIRECTFRAME=2|FRAME=2|"
         "TRACE=0|PROGRESS=0|STATUS=0"},
        {"UDS_ISO_14229|SAMTECUSB=1|VECTOR=1|BAUDRATE=500000|BUS=1", true, false, true,
         "UDS_ISO_14229|BAUDRATE=500000|TERMINATION=0|BUS=1|DEVICE=0|DIRECTFRAME=2|FRAME=2|"
         "TRACE=0|PROGRESS=0|STATUS=0"},
        {"UDS_ISO_14229|VECTOR=1|SAMTECUSB=1", true, true, false, nullptr},
        {"UDS_ISO_14229|FOO=1", false, true, false, nullptr},
    };
    for (const Case& c : cases) {
        CSUdsIso14229 object(nullptr, c.parameter);
        EXPECT_EQ(object.ParametersAccepted(), c.accepted) << c.parameter;
        EXPECT_EQ(object.InterfaceSettings().samtecUsb, c.samtec) << c.parameter;
        EXPECT_EQ(object.InterfaceSettings().vector, c.vector) << c.parameter;
        if (c.configuration) {
            EXPECT_EQ(object.GetParameterString(), c.configuration);
        }
    }
}

TEST(UdsExchangeTest, NegativeResponsesAndFailures) {
    UdsStackFixture fixture([](const std::string& request) {
        if (request == "22 00 01") return std::string("7F 22 31");
        if (request == "22 00 02") return std::string("FAIL");
        return PositiveEcho(request);
    });
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    std::string response;
    CSUdsIso14229& object = fixture.Object();
    EXPECT_EQ(object.Exchange(0, "22 00 01", response, true, true),
              CSUdsIso14229::kNegativeResponse);
    EXPECT_EQ(object.Exchange(0, "22 00 01", response, false, true), 0);
    EXPECT_EQ(object.Exchange(0, "22 00 02", response, true, true), -1);
    const auto traces = fixture.events.OfKind("trace");
    ASSERT_FALSE(traces.empty());
    EXPECT_EQ(traces.back().text.rfind("ERROR Datatransfer [22 00 02 | ", 0), 0u);
    EXPECT_EQ(traces.front().text.find(" ms |"), 4u) << traces.front().text;
}

TEST(UdsConnectTest, FingerprintPaths) {
    struct Case {
        const char* name;
        bool noFingerprint;
        bool refuse60;
        std::string fingerprint25;
        bool refuse25;
        const char* evoAnswer;
        int32_t result;
        std::vector<std::string> requests;
        bool patched;
    };
    const Case cases[] = {
        {"60 accepted",
         false,
         false,
         "2E FE FD 25",
         false,
         "62 FE FD 01",
         0,
         {"2E FE FD 60"},
         false},
        {"60 refused, no 25", false, true, "", false, "", -100, {"2E FE FD 60"}, false},
        {"25 refused",
         false,
         true,
         "2E FE FD 25",
         true,
         "",
         -100,
         {"2E FE FD 60", "2E FE FD 25"},
         false},
        {"25 accepted, EVO bus",
         false,
         true,
         "2E FE FD 25",
         false,
         "62 FE FD 00 03",
         0,
         {"2E FE FD 60", "2E FE FD 25", "22 FE FD"},
         true},
        {"25 accepted, other bus",
         false,
         true,
         "2E FE FD 25",
         false,
         "62 FE FD 00 01",
         0,
         {"2E FE FD 60", "2E FE FD 25", "22 FE FD"},
         false},
        {"without fingerprint", true, false, "", false, "", 0, {}, false},
    };
    for (const Case& c : cases) {
        UdsStackFixture fixture([&](const std::string& request) {
            if (request == "2E FE FD 60" && c.refuse60) return std::string("7F 2E 31");
            if (request == "2E FE FD 25" && c.refuse25) return std::string("7F 2E 31");
            if (request == "22 FE FD") return std::string(c.evoAnswer);
            return PositiveEcho(request);
        });
        UdsParameterBlock& uds = fixture.ecu->Parameters().uds;
        uds.noFingerprint = c.noFingerprint;
        uds.fingerprint60 = "2E FE FD 60";
        uds.fingerprint25 = c.fingerprint25;
        EXPECT_EQ(fixture.CreateAndConnect(), c.result) << c.name;
        EXPECT_EQ(fixture.Requests(), c.requests) << c.name;
        const AccessStep* programming = fixture.ecu->Access(2);
        EXPECT_EQ(programming->keyMultiplier == 7, c.patched) << c.name;
        EXPECT_EQ(fixture.ecu->Access(1)->writeRequests[0] == "2E FE FF 02", c.patched) << c.name;
    }
}

TEST(UdsAccessTest, IndexRulesAndSteps) {
    struct Case {
        int32_t index;
        int32_t result;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {0, 0, {"10 01"}}, {3, 0, {"10 03", "27 61", "27 62 12 34", "2E FE FE 01"}},
        {4, -105, {}},                      // disabled entry
        {5, -105, {}},                      // above the highest index
        {-1, -105, {}},    {-4, -105, {}},  // explicit parameters are not a table entry on UDS
    };
    for (const Case& c : cases) {
        UdsStackFixture fixture;
        ASSERT_EQ(fixture.CreateAndConnect(), 0);
        fixture.sent.clear();
        EXPECT_EQ(fixture.Run(kCommandSetDiagnosticAccess,
                              [&](ServiceOrder& o) { o.predefinedSession = c.index; }),
                  c.result)
            << c.index;
        EXPECT_EQ(fixture.Requests(), c.requests) << c.index;
    }
}

TEST(UdsAccessTest, RefusalsBecomeAccessFailures) {
    struct Case {
        const char* refused;
        bool fallbackToo;
        int32_t result;
    };
    const Case cases[] = {
        {"10 02", false, -8},      {"27 61", false, -8}, {"27 62 12 34", false, -8},
        {"2E FE FE 01", false, 0},  // the fallback write is accepted instead
        {"2E FE FE 01", true, -8},
    };
    for (const Case& c : cases) {
        UdsStackFixture fixture([&](const std::string& request) {
            if (request == c.refused) return std::string("7F 00 22");
            if (c.fallbackToo && request == "2E FE FE 02") return std::string("7F 2E 22");
            return PositiveEcho(request);
        });
        ASSERT_EQ(fixture.CreateAndConnect(), 0);
        EXPECT_EQ(fixture.Run(kCommandSetDiagnosticAccess,
                              [](ServiceOrder& o) { o.predefinedSession = 2; }),
                  c.result)
            << c.refused;
    }
}

std::string UploadEcuAnswer(const std::string& request) {
    if (request == "22 E1 01") return "62 E1 01 00 80 00 00 FF FF";
    if (request == "22 FD 01") return "62 FD 01 54 36 30 00";
    if (request == "22 F1 95") return "62 F1 95 00 00";
    if (request == "19 01 FF") return "59 01 FF 01 00 02";
    if (request == "19 02 FF") return "59 02 FF 12 34 56 08 AB CD EF 09";
    if (request.rfind("19 06 12 34 56", 0) == 0) return "59 06 12 34 56 08 01 AA BB";
    if (request.rfind("19 06 AB CD EF", 0) == 0) return "59 06 AB CD EF 09 01 CC";
    if (request == "19 11 FF") return "7F 19 31";
    if (request.rfind("23 13", 0) == 0) return "63 01 02 03";
    return PositiveEcho(request);
}

TEST(UdsUploadTest, FullFormSections) {
    UdsStackFixture fixture(UploadEcuAnswer);
    UdsParameterBlock& uds = fixture.ecu->Parameters().uds;
    uds.uploadType = 3;
    uds.memoryStart = 0x400180;
    uds.memoryLength = 0x100;
    uds.memoryChunk = 0x80;
    uds.identTable = {{"22 F1 90", "VIN", "A17"}};
    uds.sidRequests = {"22 F1 86"};
    fixture.ecu->Upload().header = {"[KOBOLD]", "4.x", "3", "me@diagbridge.local"};
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    ASSERT_EQ(fixture.Run(kCommandUpload, [](ServiceOrder& o) { o.uploadHeader = "H|"; }), 0);
    const std::string& text = fixture.ecu->UploadText();
    const std::string expected =
        "H|"
        "[KOBOLD]|Version=4.x|FormatType=3|TheUser=me@diagbridge.local|TheObject=T60|"
        "TheHardware=XXXXX|TheSoftware=XXXXX|TheDataset=XXXXX|"
        "[DataBlocks]|BlockMask=0|Block0=008000, 00FFFF|"
        "[FRAM]|2 lines|"
        "[IdentMem]|VIN=\"62 F1 90\"|"
        "[EventMemChronical]|EventAnz=2|DTCFomatIdentifier=1|"
        "EventX=\"59 02 FF 12 34 56 08 AB CD EF 09\"|"
        "Event0=\"12 34 56 08\"|Event1=\"AB CD EF 09\"|"
        "EventExtendedData0=\"AA BB\"|EventExtendedData1=\"CC\"|"
        "[SID]|SID_22 F1 86= 62 F1 86|";
    EXPECT_EQ(text, expected);
    const auto requests = fixture.Requests();
    EXPECT_TRUE(Contains(requests, "23 13 40 01 80 80"));
    EXPECT_TRUE(Contains(requests, "23 13 40 02 00 80"));
    EXPECT_FALSE(Contains(requests, "19 0F FF"));  // historical memory refused: part skipped
}

TEST(UdsUploadTest, ShortFormWithNoEvents) {
    UdsStackFixture fixture([](const std::string& request) {
        if (request == "19 02 FF") return std::string("59 02 FF");
        if (request == "22 F1 90") return std::string("62 F1 90 41 42 00 43");
        return UploadEcuAnswer(request);
    });
    UdsParameterBlock& uds = fixture.ecu->Parameters().uds;
    uds.uploadType = 2;
    uds.identTable = {{"22 F1 90", "VIN", "A4"}};
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    ASSERT_EQ(fixture.Run(kCommandUpload), 0);
    EXPECT_EQ(fixture.ecu->UploadText(),
              "[IdentMem]|VIN=\"ABC\"|[EventMem]|EventAnz=0|EventX=\"59 02 FF\"|");
}

TEST(UdsObjectInfoTest, IdentText) {
    UdsStackFixture fixture([](const std::string& request) {
        if (request == "22 FD 02") return std::string("62 FD 02 20 14 03 27");
        if (request == "22 FD 01") return std::string("62 FD 01 00 00 00");
        if (request == "22 F1 8C") return std::string("62 F1 8C 00 01 E2 40");
        if (request == "22 F1 95") return std::string("62 F1 95 53 57 31");
        if (request == "22 FE FD") return std::string("7F 22 31");
        return std::string("62");
    });
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    ASSERT_EQ(fixture.Run(kCommandGetObjectInfo), 0);
    EXPECT_EQ(fixture.ecu->IdentText(),
              "NAME=TEST_UDS|OBJECTTYPE=XXXXX|HARDWAREVERSION=XXXXX|SERIALNUMBER=123456|"
              "PRODUCTIONDATE=2014-03-27|SOFTWARE=SW1|DATASET=XXXXX|OEMID=XXXXX|OEMSET=XXXXX|"
              "LOADER=XXXXX|PROTOCOL=UDS_ISO_14229|ECU=0x18DAF133h|TESTER=0x18DA33F1h|");
}

// An image of count bytes from address 0x1000 in records of 16 bytes.
std::string HexImage(uint32_t count, uint32_t address = 0x1000) {
    std::string text;
    uint32_t done = 0;
    while (done < count) {
        const uint32_t length = std::min<uint32_t>(16, count - done);
        const uint32_t at = address + done;
        char line[64];
        std::snprintf(line, sizeof(line), ":%02X%04X00", length, at & 0xFFFF);
        std::string record = line;
        unsigned sum = length + ((at >> 8) & 0xFF) + (at & 0xFF);
        for (uint32_t i = 0; i < length; ++i) {
            const unsigned value = (done + i) & 0xFF;
            std::snprintf(line, sizeof(line), "%02X", value);
            record += line;
            sum += value;
        }
        std::snprintf(line, sizeof(line), "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        text += record + line + "|";
        done += length;
    }
    return text + ":00000001FF|";
}

struct DownloadScript {
    std::string requestDownloadAnswer = "74 20 0F FF";
    std::string dependencyAnswer = "71 01 FF 01 00";
    int failTransferAt = -1;
    int transfers = 0;
};

TEST(UdsDownloadTest, BlocksGoOutInOrderWithTheLargestTransfers) {
    DownloadScript script;
    UdsStackFixture fixture([&](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) return script.requestDownloadAnswer;
        if (request.rfind("31 01 FF 01", 0) == 0) return script.dependencyAnswer;
        if (request.rfind("36", 0) == 0) return request.substr(0, 5).replace(0, 2, "76");
        return PositiveEcho(request);
    });
    fixture.ecu->Parameters().uds.crcInDependencyCheck = true;
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    // Second block first in the text; 4000 bytes then 20 bytes after a gap.
    const std::string image =
        HexImage(20, 0x9000).substr(0, HexImage(20, 0x9000).size() - 12) + HexImage(4000);
    fixture.sent.clear();
    ASSERT_EQ(fixture.Run(kCommandDownload, [&](ServiceOrder& o) { o.hexText = image; }), 0);
    std::vector<std::string> downloads;
    std::vector<std::size_t> transferLengths;
    std::vector<uint8_t> data;
    std::string dependency;
    for (const std::string& request : fixture.Requests()) {
        if (request.rfind("34", 0) == 0) downloads.push_back(request);
        if (request.rfind("36", 0) == 0) {
            transferLengths.push_back((request.size() + 1) / 3 - 2);
            for (std::size_t i = 6; i < request.size(); i += 3) {
                data.push_back(static_cast<uint8_t>(std::stoi(request.substr(i, 2), nullptr, 16)));
            }
        }
        if (request.rfind("31 01 FF 01", 0) == 0) dependency = request;
    }
    EXPECT_EQ(downloads, (std::vector<std::string>{"34 00 33 00 10 00 00 0F A0",
                                                   "34 00 33 00 90 00 00 00 14"}));
    EXPECT_EQ(transferLengths, (std::vector<std::size_t>{3070, 930, 20}));
    const uint32_t crc = Crc32(data);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "31 01 FF 01 00 04 %02X %02X %02X %02X", crc >> 24,
                  (crc >> 16) & 0xFF, (crc >> 8) & 0xFF, crc & 0xFF);
    EXPECT_EQ(dependency, expected);
    EXPECT_EQ(fixture.Requests().back(), "11 01");
    int16_t last = -1;
    for (const auto& e : fixture.events.OfKind("progress")) {
        if (e.a == 2) {
            EXPECT_GE(e.b, last) << e.text;
            last = static_cast<int16_t>(e.b);
        }
    }
    EXPECT_EQ(last, 100);
}

TEST(UdsDownloadTest, BlockSequenceCounterWraps) {
    UdsStackFixture fixture([](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) return std::string("74 10 04");  // 2 bytes each
        if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
        return PositiveEcho(request);
    });
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    ASSERT_EQ(fixture.Run(kCommandDownload, [](ServiceOrder& o) { o.hexText = HexImage(520); }), 0);
    std::vector<std::string> counters;
    for (const std::string& request : fixture.Requests()) {
        if (request.rfind("36", 0) == 0) counters.push_back(request.substr(3, 2));
    }
    ASSERT_EQ(counters.size(), 260u);
    EXPECT_EQ(counters[0], "01");
    EXPECT_EQ(counters[254], "FF");
    EXPECT_EQ(counters[255], "00");
    EXPECT_EQ(counters[256], "01");
}

// The counters of the transfers of a download against an ECU that keeps its own count: on
// across the blocks (restarts false) or from 01 with every request download.
std::vector<std::string> CountersAgainst(bool ecuRestarts, int32_t& result) {
    int expected = 1;
    testing::UdsStackFixture fixture([&](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) {
            if (ecuRestarts) expected = 1;
            return std::string("74 10 06");  // 4 data bytes per transfer
        }
        if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
        if (request.rfind("36", 0) == 0) {
            const int counter = std::stoi(request.substr(3, 2), nullptr, 16);
            if (counter != expected) return std::string("7F 36 73");
            ++expected;
            return "76 " + request.substr(3, 2);
        }
        return testing::PositiveEcho(request);
    });
    EXPECT_EQ(fixture.CreateAndConnect(), 0);
    // Three blocks of 8, 4 and 6 bytes with gaps between them.
    const std::string image =
        ":080000000102030405060708D4|:04010000090A0B0CD1|"
        ":060200000D0E0F1011129B|:00000001FF";
    result = fixture.Run(kCommandDownload, [&](ServiceOrder& o) { o.hexText = image; });
    std::vector<std::string> counters;
    for (const std::string& request : fixture.Requests()) {
        if (request.rfind("36", 0) == 0) counters.push_back(request.substr(3, 2));
    }
    return counters;
}

TEST(UdsDownloadTest, TheCounterRunsOnAcrossBlocksOrRestartsWhenTheEcuDoes) {
    int32_t result = 1;
    EXPECT_EQ(CountersAgainst(false, result),
              (std::vector<std::string>{"01", "02", "03", "04", "05"}));
    EXPECT_EQ(result, 0);
    // Block 2 refused with 7F 36 73 is repeated once with 01; block 3 starts at 01 at once.
    EXPECT_EQ(CountersAgainst(true, result),
              (std::vector<std::string>{"01", "02", "03", "01", "01", "02"}));
    EXPECT_EQ(result, 0);
}

TEST(UdsDownloadTest, AWrongCounterInsideABlockIsNotRepeated) {
    int transfers = 0;
    testing::UdsStackFixture fixture([&](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) return std::string("74 10 06");
        if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
        if (request.rfind("36", 0) == 0) {
            return ++transfers == 2 ? std::string("7F 36 73") : "76 " + request.substr(3, 2);
        }
        return testing::PositiveEcho(request);
    });
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    EXPECT_EQ(
        fixture.Run(kCommandDownload,
                    [](ServiceOrder& o) { o.hexText = ":080000000102030405060708D4|:00000001FF"; }),
        -53);
    EXPECT_EQ(transfers, 2);
}

TEST(UdsDownloadTest, RequestDownloadAnswerFormats) {
    struct Case {
        const char* answer;
        int32_t result;
        std::size_t bytesPerTransfer;
    };
    const Case cases[] = {
        {"74 10 06", 0, 4},
        {"74 20 00 0A", 0, 8},
        {"74 20 0F FF", 0, 3070},  // capped at 0x0C00
        {"74 30 00 00 0A", 0, 8},
        {"74 40 00 00 0C 00", 0, 3070},    // four length bytes
        {"74 40 00 01 00 00", 0, 3070},    // capped
        {"74 2F 00 0A", 0, 8},             // low nibble (address bytes) not used
        {"74", -52, 0},                    // no length format
        {"74 20 0C", -52, 0},              // shorter than its format
        {"74 00", -52, 0},                 // no length bytes
        {"74 50 00 00 00 00 0C", -52, 0},  // more than four length bytes
        {"74 10 02", -52, 0},              // no room for data
    };
    for (const Case& c : cases) {
        testing::UdsStackFixture fixture([&](const std::string& request) {
            if (request.rfind("34 00 33", 0) == 0) return std::string(c.answer);
            if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
            return testing::PositiveEcho(request);
        });
        ASSERT_EQ(fixture.CreateAndConnect(), 0) << c.answer;
        EXPECT_EQ(
            fixture.Run(kCommandDownload, [&](ServiceOrder& o) { o.hexText = HexImage(4000); }),
            c.result)
            << c.answer;
        std::size_t first = 0;
        for (const std::string& request : fixture.Requests()) {
            if (request.rfind("36", 0) == 0 && first == 0) first = (request.size() + 1) / 3 - 2;
        }
        EXPECT_EQ(first, c.bytesPerTransfer) << c.answer;
    }
}

TEST(UdsExchangeTest, ARequestIsoTpCannotCarryIsRefusedUnsent) {
    testing::UdsStackFixture fixture;
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    fixture.sent.clear();
    for (const std::size_t bytes : {std::size_t{4095}, std::size_t{4096}}) {
        std::string request = "2E F1 98";
        for (std::size_t i = 3; i < bytes; ++i) request += " 5A";
        std::string response = "stale";
        const int32_t result = fixture.Object().Exchange(0, request, response, true, false);
        EXPECT_EQ(result, bytes == 4095 ? 0 : -3) << bytes;
    }
    ASSERT_EQ(fixture.sent.size(), 1u);
    EXPECT_EQ(fixture.sent[0].second.size(), 4095u * 3 - 1);
}

TEST(UdsDownloadTest, FailuresOfTheMainSequence) {
    struct Case {
        const char* name;
        std::string image;
        const char* refused;
        std::string dependencyAnswer;
        int32_t result;
    };
    const std::string good = HexImage(40);
    const Case cases[] = {
        {"malformed hex", ":0100000000FE|:00000001FF", "", "71 01 FF 01 00", -50},
        {"comma in hex", ":01000000,00FF|:00000001FF", "", "71 01 FF 01 00", -50},
        {"session", good, "10 01", "71 01 FF 01 00", -8},
        {"erase", good, "31 01 FF 00", "71 01 FF 01 00", -51},
        {"request download", good, "34", "71 01 FF 01 00", -52},
        {"transfer data", good, "36", "71 01 FF 01 00", -53},
        {"transfer exit", good, "37", "71 01 FF 01 00", -54},
        {"dependency refused", good, "31 01 FF 01", "71 01 FF 01 00", -55},
        {"dependency status", good, "", "71 01 FF 01 01", -56},
        {"dependency short", good, "", "71 01", -56},
    };
    for (const Case& c : cases) {
        UdsStackFixture fixture([&](const std::string& request) {
            if (*c.refused != '\0' && request.rfind(c.refused, 0) == 0) return std::string("FAIL");
            if (request.rfind("34 00 33", 0) == 0) return std::string("74 20 00 82");
            if (request.rfind("31 01 FF 01", 0) == 0) return c.dependencyAnswer;
            return PositiveEcho(request);
        });
        ASSERT_EQ(fixture.CreateAndConnect(), 0) << c.name;
        fixture.sent.clear();
        EXPECT_EQ(fixture.Run(kCommandDownload, [&](ServiceOrder& o) { o.hexText = c.image; }),
                  c.result)
            << c.name;
        if (c.result == -50) {
            EXPECT_TRUE(fixture.sent.empty()) << c.name;
        }
    }
}

TEST(UdsDownloadTest, PreAndPostProgrammingAreFunctional) {
    UdsStackFixture fixture([](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) return std::string("74 20 00 82");
        if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
        return PositiveEcho(request);
    });
    fixture.ecu->Parameters().uds.prePostProgramming = true;
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    fixture.sent.clear();
    ASSERT_EQ(fixture.Run(kCommandDownload, [](ServiceOrder& o) { o.hexText = HexImage(8); }), 0);
    const auto& sent = fixture.sent;
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(sent[0], (std::pair<int32_t, std::string>{1, "10 83"}));
    EXPECT_EQ(sent[1], (std::pair<int32_t, std::string>{1, "85 82"}));
    EXPECT_EQ(sent[2], (std::pair<int32_t, std::string>{1, "28 81 01"}));
    EXPECT_EQ(sent[sent.size() - 3], (std::pair<int32_t, std::string>{0, "10 83"}));
    EXPECT_EQ(sent[sent.size() - 2], (std::pair<int32_t, std::string>{1, "28 80 01"}));
    EXPECT_EQ(sent[sent.size() - 1], (std::pair<int32_t, std::string>{1, "85 81"}));
}

}  // namespace
}  // namespace diagbridge

namespace diagbridge {
namespace {

TEST(UdsDownloadTest, TheSessionStepNeedsNoEnabledEntry) {
    testing::UdsStackFixture fixture([](const std::string& request) {
        if (request.rfind("34 00 33", 0) == 0) return std::string("74 20 00 82");
        if (request.rfind("31 01 FF 01", 0) == 0) return std::string("71 01 FF 01 00");
        return testing::PositiveEcho(request);
    });
    fixture.ecu->Access(1)->enabled = false;  // OEM variants keep the session entry closed
    ASSERT_EQ(fixture.CreateAndConnect(), 0);
    fixture.sent.clear();
    EXPECT_EQ(fixture.Run(kCommandDownload,
                          [](ServiceOrder& o) { o.hexText = ":0400000001020304F2|:00000001FF"; }),
              0);
    EXPECT_EQ(fixture.Requests().front(), "10 01");
    EXPECT_EQ(
        fixture.Run(kCommandSetDiagnosticAccess, [](ServiceOrder& o) { o.predefinedSession = 1; }),
        CSUdsIso14229::kNoSuchAccess);
}

}  // namespace
}  // namespace diagbridge
