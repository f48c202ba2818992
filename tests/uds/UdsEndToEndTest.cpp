// The component's UDS services, end to end, against the virtual ECU on a CAN bus.
#include <gtest/gtest.h>

#include <vector>

#include "HexTestSupport.h"
#include "UdsEndToEndSupport.h"
#include "uds/Crc32.h"

namespace diagbridge::e2e {
namespace {

using test::DataRecord;
using test::LinearRecord;
using test::Ramp;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

sim::UdsFaultPlan Faults(const char* text) {
    sim::UdsFaultPlan plan;
    std::string error;
    EXPECT_TRUE(sim::ParseUdsFault(text, plan, error)) << error;
    return plan;
}

// Two blocks: 300 bytes at 0x012000 given after 64 bytes at 0x018000 (sent in address
// order), the records 32 bytes each.
struct Image {
    std::vector<uint8_t> low = Ramp(300, 0x10);
    std::vector<uint8_t> high = Ramp(64, 0xC0);
    std::string Hex() const {
        std::string text = LinearRecord(0x0001) + "|" + DataRecord(0x8000, high);
        for (size_t i = 0; i < low.size(); i += 32) {
            const auto end = low.begin() + long(std::min<size_t>(i + 32, low.size()));
            text += "|" + DataRecord(uint16_t(0x2000 + i),
                                     std::vector<uint8_t>(low.begin() + long(i), end));
        }
        return text + "|" + test::kEndRecord;
    }
};

TEST(UdsEndToEndTest, ConnectSingleRequestsAndIdent) {
    UdsSession session;
    ASSERT_EQ(session.Connect(), 0);
    session.Ecu().Inspect([](const sim::UdsEcuServices& ecu) {
        const std::vector<uint8_t>* fingerprint = ecu.Identifier(0xFEFF);
        ASSERT_NE(fingerprint, nullptr);
        EXPECT_EQ(*fingerprint, Ramp(57));  // the segmented 60-byte write
    });
    int32_t result = 1;
    EXPECT_EQ(session.Request("22 F1 90", result),
              "62 F1 90 57 44 42 39 30 36 32 33 32 31 4E 31 32 33 34 35 36");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(session.Request("22 12 34", result), "7F 22 31");
    EXPECT_EQ(result, -100);
    const std::string ident = session.Ident(result);
    EXPECT_EQ(result, 0);
    for (const char* line :
         {"SERIALNUMBER=1234567|", "PRODUCTIONDATE=2014-03-27|", "SOFTWARE=SW 61.04.17|",
          "HARDWAREVERSION=HW-T60.1-A3|", "OEMID=00 01|", "ECU=0x18DAF103h|"}) {
        EXPECT_TRUE(Has(ident, line)) << line << " in " << ident;
    }
}

TEST(UdsEndToEndTest, PredefinedAccessOpensSessionAndSecurity) {
    UdsSession session;
    ASSERT_EQ(session.Connect(), 0);
    EXPECT_EQ(session.Access(2), 0);
    session.Ecu().Inspect([](const sim::UdsEcuServices& ecu) {
        EXPECT_EQ(ecu.Session(), 0x02);
        EXPECT_EQ(ecu.UnlockedLevel(), 0x61);
        ASSERT_NE(ecu.Identifier(0xFEFE), nullptr);
    });
    EXPECT_EQ(session.Access(3), 0);
    EXPECT_EQ(session.Access(9), -105);
}

TEST(UdsEndToEndTest, UploadReadsEventsMemoryBlocksAndSids) {
    UdsSession session;
    ASSERT_EQ(session.Connect(), 0);
    int32_t result = 1;
    const std::string upload = session.Upload(result);
    EXPECT_EQ(result, 0);
    for (const char* part :
         {"[DataBlocks]|BlockMask=0|Block0=400000, 40FFFF|Block1=410000, 417FFF|",
          "[FRAM]|2 lines|", "VinOriginal=\"62 F1 90 57 44 42", "[EventMemChronical]|EventAnz=2|",
          "DTCFomatIdentifier=1|", "Event0=\"01 23 45 2F\"|", "Event1=\"C1 00 00 08\"|",
          "EventExtendedData0=\"01 05 10 00 3C\"|", "[EventMemHistorical]|EventAnz=1|",
          "Event0=\"05 43 21 28\"|", "[SID]|SID_22 F1 95= 62 F1 95 53 57"}) {
        EXPECT_TRUE(Has(upload, part)) << part << " in " << upload;
    }
}

TEST(UdsEndToEndTest, DownloadStoresTheHexImage) {
    struct Case {
        const char* model;
        const char* style;  // how the ECU counts and states its block length
    };
    const Case cases[] = {{"", "length-format:2"},
                          {"|PREPOST=1", "length-format:2"},
                          {"", "counter-restarts"},
                          {"", "length-format:4"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.style);
        UdsSession session(Faults(c.style), c.model);
        ASSERT_EQ(session.Connect(), 0);
        const Image image;
        EXPECT_EQ(session.Download(image.Hex()), 0);
        session.Ecu().Inspect([&](const sim::UdsEcuServices& ecu) {
            ASSERT_EQ(ecu.Image().size(), 2u);
            EXPECT_EQ(ecu.Image()[0].start, 0x012000u);
            EXPECT_EQ(ecu.Image()[0].data, image.low);
            EXPECT_EQ(ecu.Image()[1].start, 0x018000u);
            EXPECT_EQ(ecu.Image()[1].data, image.high);
            std::vector<uint8_t> all = image.low;
            all.insert(all.end(), image.high.begin(), image.high.end());
            EXPECT_EQ(ecu.ImageCrc(), Crc32(all));
            EXPECT_EQ(ecu.Resets(), 1u);
        });
    }
}

TEST(UdsEndToEndTest, RefusalsOfTheProgrammingStepsGiveTheirCodes) {
    struct Case {
        const char* fault;
        int32_t result;
    };
    const Case cases[] = {
        {"nrc:27:35", -8},  {"nrc:31:22", -51},   {"nrc:34:70", -52},  {"nrc:36:72", -53},
        {"nrc:37:24", -54}, {"nrc:31:22@2", -55}, {"nrc:11:22", -100},
    };
    for (const Case& c : cases) {
        UdsSession session(Faults(c.fault));
        ASSERT_EQ(session.Connect(), 0) << c.fault;
        EXPECT_EQ(session.Download(Image().Hex()), c.result) << c.fault;
    }
}

TEST(UdsEndToEndTest, AnEcuThatStopsMidTransferGivesTransferDataFailed) {
    UdsSession session(Faults("silent:36@2"));
    ASSERT_EQ(session.Connect(), 0);
    std::string hex = LinearRecord(0x0001);  // 8000 bytes: three transfers
    for (uint16_t address = 0; address < 8000; address += 200) {
        hex += "|" + DataRecord(address, Ramp(200, uint8_t(address)));
    }
    hex += std::string("|") + test::kEndRecord;
    EXPECT_EQ(session.Download(hex), -53);
    int32_t result = 1;
    EXPECT_EQ(session.Request("3E 00", result), "7E 00");
    EXPECT_EQ(result, 0);
}

TEST(UdsEndToEndTest, SuppressedPositiveResponsesSucceedOnSilence) {
    UdsSession session;
    ASSERT_EQ(session.Connect(), 0);
    struct Case {
        const char* request;
        const char* response;
        int32_t result;
    };
    const Case cases[] = {
        {"10 83", "", 0},
        {"85 82", "", 0},
        {"28 81 01", "", 0},
        {"3E 80", "", 0},
        {"31 81 12 34", "7F 31 31", -100},  // negative answers still come
        {"10 03", "50 03 00 32 01 F4", 0},
    };
    for (const Case& c : cases) {
        int32_t result = 1;
        EXPECT_EQ(session.Request(c.request, result), c.response) << c.request;
        EXPECT_EQ(result, c.result) << c.request;
    }
    session.Ecu().Inspect([](const sim::UdsEcuServices& ecu) {
        EXPECT_EQ(ecu.CommunicationControl(), 0x01);
        EXPECT_EQ(ecu.DtcSetting(), 0x02);
    });
}

TEST(UdsEndToEndTest, TheT601ModelConnectsFlashesAndUploads) {
    UdsSession session({}, "", "T60.1");
    ASSERT_EQ(session.Connect(), 0);
    session.Ecu().Inspect([](const sim::UdsEcuServices& ecu) {
        ASSERT_NE(ecu.Identifier(0xFEFF), nullptr);  // the ORLAN fingerprint
    });
    int32_t result = 1;
    const std::string ident = session.Ident(result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(ident, "NAME=T60.1|")) << ident;
    EXPECT_TRUE(Has(ident, "SERIALNUMBER=1234567|")) << ident;
    for (int32_t access : {2, 3, 4}) EXPECT_EQ(session.Access(access), 0) << access;
    const Image image;
    EXPECT_EQ(session.Download(image.Hex()), 0);
    session.Ecu().Inspect([&](const sim::UdsEcuServices& ecu) {
        ASSERT_EQ(ecu.Image().size(), 2u);
        EXPECT_EQ(ecu.Image()[0].data, image.low);
        EXPECT_EQ(ecu.Image()[1].data, image.high);
    });
    const std::string upload = session.Upload(result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(upload, "[FRAM]|:020000040040BA|:80018000")) << upload.substr(0, 400);
    EXPECT_TRUE(Has(upload, "[EventMemChronical]|EventAnz=2|")) << upload.substr(0, 400);
}

}  // namespace
}  // namespace diagbridge::e2e
