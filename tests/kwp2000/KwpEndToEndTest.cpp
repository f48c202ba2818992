// KWP2000 sessions through the command interface, the real stack and the T60 model, against
// the virtual controller on a pseudo-terminal, over the wired and the SkyLink adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>

#include "KwpSessionSupport.h"
#include "sim/kline/IntelHexText.h"
#include "sim/kline/KwpServiceFaults.h"

namespace diagbridge::testing {
namespace {

constexpr int32_t kMakerOem = 0;
constexpr int32_t kDevelopmentMode = 0x86;
constexpr int32_t kSwitchedBaud = 19200;
constexpr uint32_t kSoftwareStart = 0x8000;
constexpr uint32_t kFramData = 0x400200;
constexpr uint32_t kKeepAliveMs = 2000;

// The answer of the controller itself to request, asked past the line.
Bytes EcuAnswer(KwpSession& session, const Bytes& request) {
    Bytes response;
    EXPECT_TRUE(session.ecu->Responder().Respond(request, response));
    return response;
}

// The response bytes of the first traced exchange whose request starts with prefix.
Bytes TracedAnswer(KwpSession& session, const std::string& prefix) {
    for (const RecordedEvent& e : session.events.OfKind("trace")) {
        const size_t request = e.text.find('|');
        if (request == std::string::npos || e.text.compare(request + 1, prefix.size(), prefix) != 0)
            continue;
        const size_t response = e.text.find('|', request + 1);
        const size_t end = e.text.find('|', response + 1);
        if (response == std::string::npos || end == std::string::npos) return {};
        Bytes bytes;
        for (size_t at = response + 1; at + 1 < end; at += 3) {
            bytes.push_back(static_cast<uint8_t>(std::stoi(e.text.substr(at, 2), nullptr, 16)));
        }
        return bytes;
    }
    return {};
}

Bytes Pattern(size_t count, uint8_t seed) {
    Bytes data(count);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 4));
    return data;
}

// Connected, in the development session with security access and the model's timing.
void OpenSession(KwpSession& session) {
    ASSERT_EQ(session.Connect(), 0);
    ASSERT_EQ(session.Access(kMakerOem, kDevelopmentMode, kSwitchedBaud, true), 0);
}

class KwpEndToEndTest : public ::testing::TestWithParam<bool> {
  protected:
    KwpSession session{{GetParam(), "T60|UPLOADSID=1A_95,21_03", {}}};
};

std::string AdapterName(const ::testing::TestParamInfo<bool>& adapter) {
    return adapter.param ? "Wired" : "SkyLink";
}

INSTANTIATE_TEST_SUITE_P(Adapters, KwpEndToEndTest, ::testing::Values(true, false), AdapterName);

TEST_P(KwpEndToEndTest, ConnectFindsTheControllerAndChecksItsIdent) {
    EXPECT_EQ(session.Connect(), 0);
    EXPECT_TRUE(session.HasProgress("ServiceConnectToObject: Scan Device: [0xFAh, 0x18h],"));
    EXPECT_TRUE(session.HasProgress("ServiceConnectToObject: ECU T60 found at: [0x18h, 0xFAh]"));
    EXPECT_TRUE(session.HasProgress("ServiceConnectToObject: IdentCheck OK"));
    EXPECT_TRUE(session.ecu->Line().SessionStarted());
    EXPECT_EQ(session.CountStatus("Status: 3 CONNECTED"), 1u);
}

// A controller that does not hear requests coming earlier than its P3min after an answer
// (50 ms here): the tester keeps the standard 55 ms, so every request is heard.
TEST(KwpEndToEndTimingTest, ControllerThatIgnoresEarlyRequestsIsServed) {
    KwpSessionOptions options;
    options.minRequestGapMs = 50;
    KwpSession session(options);
    ASSERT_EQ(session.Connect(), 0);
    int32_t result = 1;
    Bytes own;
    ASSERT_TRUE(session.ecu->Responder().Respond({0x1A, 0x8C}, own));
    EXPECT_EQ(session.Request("1A 8C", result), HexText(own));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(session.Access(kMakerOem, kDevelopmentMode, 10400, false), 0);
    EXPECT_EQ(session.ecu->Line().EarlyRequests(), 0u);
}

TEST_P(KwpEndToEndTest, DiagnosticAccessSwitchesSessionUnlocksAndSetsTiming) {
    ASSERT_EQ(session.Connect(), 0);
    EXPECT_EQ(session.Access(kMakerOem, kDevelopmentMode, kSwitchedBaud, true), 0);
    const sim::KwpServiceResponder& ecu = session.ecu->Responder();
    EXPECT_EQ(ecu.Session(), kDevelopmentMode);
    // The SkyLink adapter always names the rate itself; either way the controller got it.
    EXPECT_EQ(ecu.BaudRate(), static_cast<uint32_t>(kSwitchedBaud));
    EXPECT_EQ(ecu.UnlockedLevel(), 0xFD);
    // 5/50/0/5000/0 ms within the limits 0/1000/0/10000/0 ms, as ISO 14230 codes.
    const sim::KwpServiceResponder::TimingCodes expected = {0x0A, 0x02, 0x00, 0x14, 0x00};
    EXPECT_EQ(ecu.Timing(), expected);
    EXPECT_TRUE(session.HasProgress("ServiceSetDiagnosticAccess: Finished"));
}

TEST_P(KwpEndToEndTest, VehicleMakerAccessUnlocksUnderItsOwnTesterAddress) {
    ASSERT_EQ(session.Connect(), 0);
    EXPECT_EQ(session.Access(1, kDevelopmentMode, 10400, false), 0);
    EXPECT_EQ(session.ecu->Responder().UnlockedLevel(), 0x01);
    std::string ident;
    int32_t result = 1;
    EXPECT_EQ(session.component.DbrGetIdent(session.ecuId, &ident, &result), 0);
    EXPECT_NE(ident.find("TESTER=0xF0h|"), std::string::npos) << ident;
}

TEST_P(KwpEndToEndTest, IdentRequestAndJob) {
    OpenSession(session);
    std::string ident;
    int32_t result = 1;
    EXPECT_EQ(session.component.DbrGetIdent(session.ecuId, &ident, &result), 0);
    EXPECT_EQ(result, 0);
    for (const char* field :
         {"OBJECTTYPE=T60|", "SERIALNUMBER=SN600117|", "PRODUCTIONDATE=2019-05-14|",
          "SOFTWARE=SW 4.12.03|", "DATASET=DS 0815-03|", "SCSW=SCSW 1.02|", "LOADER=LDR 2.01|",
          "ECU=0x18h|", "TESTER=0xFAh|"}) {
        EXPECT_NE(ident.find(field), std::string::npos) << field << " in " << ident;
    }

    const std::string response = session.Request("1A 95", result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(response, HexText(EcuAnswer(session, {0x1A, 0x95})));

    std::array<uint8_t, CCommandInterface::kMaxRequestBytes> bytes{};
    const uint8_t request[] = {0x21, 0x02};
    EXPECT_EQ(session.component._DbrSingleRequest(session.ecuId, request, 2, bytes.data(), &result),
              0);
    const Bytes map = EcuAnswer(session, {0x21, 0x02});
    ASSERT_EQ(result, static_cast<int32_t>(map.size()));
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + result), map);

    // The job sends nothing (the keep-alive may send its tester present meanwhile, which the
    // request trace does not show).
    const size_t traces = session.events.OfKind("trace").size();
    EXPECT_EQ(session.component.DbrJob(session.ecuId, "ANY JOB", &result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(session.events.OfKind("trace").size(), traces);
}

TEST_P(KwpEndToEndTest, UploadCarriesWhatTheControllerHolds) {
    OpenSession(session);
    std::string upload;
    int32_t result = 1;
    EXPECT_EQ(session.component.DbrUpload(session.ecuId, "", &upload, &result), 0);
    ASSERT_EQ(result, 0) << upload;

    EXPECT_EQ(upload.rfind("[KOBOLD]|", 0), 0u) << upload.substr(0, 200);
    EXPECT_NE(upload.find("TheObject=\"T60\"|"), std::string::npos);

    // Memory: the T60's memory-upload area (0x400180, 0x7EE0 bytes) of the larger FRAM map
    // the controller reports, every byte as the controller reads it.
    const Bytes map = TracedAnswer(session, "21 ");
    ASSERT_EQ(map.size(), 8u);
    const uint32_t start = (map[2] << 16) | (map[3] << 8) | map[4];
    const uint32_t mapLength = (map[5] << 16) | (map[6] << 8) | map[7];
    const uint32_t length = 0x7EE0;
    ASSERT_EQ(start, 0x400180u);
    ASSERT_GT(mapLength, length);
    const auto memory = ParseHexLines(Section(upload, "[FRAM]"));
    ASSERT_TRUE(memory.has_value());
    ASSERT_EQ(memory->size(), length);
    ASSERT_EQ(memory->begin()->first, start);
    for (uint32_t at = start; at < start + length; at += 0x80) {
        const uint32_t count = std::min<uint32_t>(0x80, start + length - at);
        const Bytes read =
            EcuAnswer(session, {0x23, static_cast<uint8_t>(at >> 16), static_cast<uint8_t>(at >> 8),
                                static_cast<uint8_t>(at), static_cast<uint8_t>(count)});
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(memory->at(at + i), read[1 + i]) << at + i;
    }

    // Events: each stored code with the controller's status answer.
    const std::string events = Section(upload, "[EventMem]");
    EXPECT_NE(events.find("EventAnz=3|"), std::string::npos) << events;
    const uint16_t codes[] = {0x5012, 0x6101, 0x7A03};
    for (size_t i = 0; i < 3; ++i) {
        const Bytes status = EcuAnswer(
            session, {0x17, static_cast<uint8_t>(codes[i] >> 8), static_cast<uint8_t>(codes[i])});
        const std::string line = "Event" + std::to_string(i + 1) + "=\"" + HexText(status) + "\"|";
        EXPECT_NE(events.find(line), std::string::npos) << line << " in " << events;
    }

    // Ident lines: the options A0..AF the controller lists.
    const std::string ident = Section(upload, "[IdentMem]");
    EXPECT_NE(ident.find("IdentA0=[\"WDB9634031L123456\"]|"), std::string::npos) << ident;
    EXPECT_NE(ident.find("IdentA7=[\"SCSW 1.02\"]|"), std::string::npos) << ident;

    // SID lines, as configured with the ECU object.
    const std::string sid = Section(upload, "[SID]");
    EXPECT_NE(sid.find("SID_1A_95= " + HexText(EcuAnswer(session, {0x1A, 0x95})) + "|"),
              std::string::npos)
        << sid;
    EXPECT_NE(sid.find("SID_21_03= " + HexText(EcuAnswer(session, {0x21, 0x03})) + "|"),
              std::string::npos)
        << sid;
}

TEST_P(KwpEndToEndTest, DownloadOfHexTextStoresTheImage) {
    OpenSession(session);
    const Bytes data = Pattern(600, 0x31);
    const Bytes oldDate = session.ecu->Responder().Ident(0x8F);
    EXPECT_EQ(session.Download(4, sim::IntelHexText(kSoftwareStart, data, 32, '|')), 0);

    const sim::KwpDownloadImage image = session.ecu->Responder().Image();
    EXPECT_TRUE(image.Complete());
    Bytes stored;
    ASSERT_TRUE(image.Read(kSoftwareStart, data.size(), stored));
    EXPECT_EQ(stored, data);
    EXPECT_EQ(image.ByteCount(), data.size());
    EXPECT_EQ(session.ecu->Responder().DownloadsCompleted(), 1u);
    EXPECT_TRUE(session.HasProgress("ServiceDownload: SW detected"));
    EXPECT_TRUE(session.HasProgress("Upgrade status: Ok 100 %"));
    // The programming date was written anew; the record behind it stays.
    const Bytes newDate = session.ecu->Responder().Ident(0x8F);
    ASSERT_EQ(newDate.size(), oldDate.size());
    EXPECT_TRUE(std::equal(newDate.begin() + 4, newDate.end(), oldDate.begin() + 4));
}

TEST_P(KwpEndToEndTest, DownloadOfHexFileWritesTheFram) {
    OpenSession(session);
    const Bytes data = Pattern(100, 0xA5);
    const std::string path = ::testing::TempDir() + "kwp_fram_image.hex";
    {
        std::ofstream file(path, std::ios::binary);
        file << sim::IntelHexText(kFramData, data, 16, '\n');
    }
    EXPECT_EQ(session.Download(4, path), 0);
    std::remove(path.c_str());
    EXPECT_TRUE(session.HasProgress("ServiceDownload: FRAM: " + path));

    Bytes stored;
    ASSERT_TRUE(session.ecu->Responder().Image().Read(kFramData, data.size(), stored));
    EXPECT_EQ(stored, data);
    // Read back over the line from the controller's memory.
    int32_t result = 1;
    const std::string response = session.Request("23 40 02 00 64", result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(response, HexText(Concat({0x63}, data)));
}

TEST_P(KwpEndToEndTest, KeepAliveRunsBetweenServices) {
    OpenSession(session);
    for (int round = 1; round <= 2; ++round) {
        const uint32_t frames = session.ecu->Line().FramesReceived();
        session.events.Clear();
        session.clock.Advance(kKeepAliveMs + 1);
        ASSERT_TRUE(session.events.WaitFor("status", 1)) << "round " << round;
        EXPECT_EQ(session.CountStatus("Status: 6 ALIVE"), 1u);
        EXPECT_GT(session.ecu->Line().FramesReceived(), frames);
        // The session the access opened is still up for the next service.
        int32_t result = 1;
        session.Request("1A 93", result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(session.ecu->Responder().Session(), kDevelopmentMode);
    }
}

}  // namespace
}  // namespace diagbridge::testing
