// T40 sessions through the command interface against the virtual controller on a
// pseudo-terminal: connect, identification, single requests, upload, both downloads, and the
// line faults, each followed by a request or connect that works again.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "SerialSession.h"
#include "sim/t40/T40VirtualEcu.h"

namespace diagbridge::testing {
namespace {

constexpr uint8_t kPort = 5;
// The tester listens for the sync byte from 210 ms (2100 ms on the scaled clock) to 1210 ms
// (its 1000 ms read time-out in real time) after the address byte.
constexpr uint32_t kWakeDelayMs = 600;
constexpr const char* kEnd = ":00000001FF";

class T40Session : public ::testing::Test {
  protected:
    void Start(bool h5, const std::string& model, const std::string& hardwareText = "") {
        sim::T40EcuOptions options;
        options.h5 = h5;
        options.wakeDelayMs = kWakeDelayMs;
        options.hardwareText = hardwareText;
        ecu_.emplace(options);
        ASSERT_TRUE(ecu_->Start());
        ASSERT_TRUE(session_.Open(kPort, ecu_->DevicePath(),
                                  "ISO_9141|RS232=5|PROGRESS=1|STATUS=1|TRACE=1", model));
    }
    void TearDown() override {
        session_.Close();
        if (ecu_) ecu_->Stop();
    }

    std::optional<sim::T40VirtualEcu> ecu_;
    SerialSession session_;
};

std::string Join(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(text.empty() ? "" : "|") + line;
    return text;
}

TEST_F(T40Session, H4ConnectIdentRequestUploadAndDataSet) {
    Start(false, "T40H4");
    ASSERT_EQ(session_.Connect(), 0);
    EXPECT_TRUE(ecu_->LoggedIn());
    EXPECT_TRUE(session_.HasProgress("ServiceConnectToObject: Check ECU Ident OK"));

    int32_t result = 1;
    const std::string ident = session_.Ident(result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ident.rfind("HARDWAREVERSION=0.0|SOFTWAREPARTNUMBER=60091234|DIAGNOSTICTYPE="
                          "T40DIAG1|TRANSMISSIONTYPE=ECOLIFE H4|SOFTWAREVERSION=V01.07.0|"
                          "DATASETLENGTH=_1024|",
                          0),
              0u)
        << ident;
    EXPECT_NE(ident.find("|SERIALNUMBER=SN004711|"), std::string::npos);
    EXPECT_NE(ident.find("|ECU=T40H4|"), std::string::npos);

    EXPECT_EQ(session_.Request("03 07 00 02 08", result), "43 30 2E 30");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(session_.component.DbrSetDiagnosticAccess(session_.ecuId, 0, 0x86, 9600, 0, &result),
              0);
    EXPECT_EQ(result, -4);  // the T40 has no diagnostic access

    const std::string upload = session_.Upload(result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(upload.rfind("[KOBOLD]|Version=4.x|Format=1|TheTime=\"", 0), 0u) << upload;
    for (const char* part :
         {"|TheObject=ECOLIFE H4|TheHardware=T40H4|TheSoftware=V01.07.0|TheDataset=DS000042|"
          "iAxle=4100|rDyn=512|[IdentMem]|Ident8A=\"ORLAN\"|Ident8C=\"SN004711\"|",
          "|Ident93=\"0.0\"|Ident94=\"\"|Ident95=\"V01.07.0\"|IdentB0=\"60091234\"|IdentB3=\"\"|",
          "|[EventMem]|EventAnz=2|EventX=47 00 11 02 ",
          "|Event1=  11 02 21 22 23 24 25 26 27|Event2=  31 32 33 34 35 36 37 38 39|"
          "Addendum1=  A0 A1 A2 A3 A4 A5 A6 A7 A8 A9|[T40ADAPTION]|00001=:80000000",
          "|00004=:80018000", "00|00005=:00000001FF|"}) {
        EXPECT_NE(upload.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(upload.find("[T40BDS]"), std::string::npos);

    const std::string dataSet = Join({"AB.CDEF.GH", ":1000A000101112131415161718191A1B1C1D1E1FD8",
                                      ":1000B000000421212121212121212121212121216E",
                                      ":1018000000000000000000000000000000000000D8", kEnd});
    EXPECT_EQ(session_.Download(3, dataSet), 0);
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: finished OK"));
    EXPECT_EQ(ecu_->PartNumber(), "ABCDEFGH");
    const std::map<uint32_t, uint8_t> written = ecu_->DataSet();
    EXPECT_EQ(written.at(0x20A6), 0x16);
    EXPECT_EQ(written.at(0x20B0), 0x00);
    EXPECT_EQ(written.at(0x20B1), 0x04);
    EXPECT_EQ(written.count(0x20A0), 0u);

    // The restart after the download left it connected.
    EXPECT_EQ(session_.Request("00", result).substr(0, 2), "40");
    EXPECT_EQ(result, 0);
}

TEST_F(T40Session, LineFaultsEndWithTheirCodeAndTheNextRequestWorks) {
    // The model's 500 ms would end a silent exchange (1000 ms port time-out) with -5 first.
    Start(false, "T40H4|TIMEOUT_SERVICESINGLEREQUEST=3000");
    ASSERT_EQ(session_.Connect(), 0);
    struct Case {
        const char* name;
        sim::T40Faults faults;
        int32_t result;
    };
    std::vector<Case> cases(6);
    cases[0] = {"wrong checksum", {}, -1};
    cases[0].faults.badChecksum = 1;
    cases[1] = {"length byte FF", {}, -1};
    cases[1].faults.lengthFF = 1;
    cases[2] = {"bytes missing", {}, -1};
    cases[2].faults.missingBytes = 1;
    cases[3] = {"silence", {}, -1};
    cases[3].faults.silent = 1;
    cases[4] = {"refusal", {}, -100};
    cases[4].faults.refuse = 1;
    cases[5] = {"no fault", {}, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ecu_->InjectFaults(c.faults);
        int32_t result = 1;
        const std::string response = session_.Request("03 07 00 02 08", result);
        EXPECT_EQ(result, c.result);
        if (c.result == -1) {
            EXPECT_EQ(response, "");
        }
        EXPECT_EQ(session_.Request("03 07 00 02 08", result), "43 30 2E 30");
        EXPECT_EQ(result, 0);
    }
    // Nobody answers the wake-up: the connect ends at once with -7; the next one works.
    EXPECT_EQ(session_.Disconnect(), 0);
    sim::T40Faults deaf;
    deaf.ignoredWakeUps = 1;
    ecu_->InjectFaults(deaf);
    EXPECT_EQ(session_.Connect(), -7);
    EXPECT_TRUE(session_.HasProgress("ServiceConnectToObject: Start Communication failed"));
    EXPECT_EQ(session_.Connect(), 0);
}

TEST_F(T40Session, DataSetChecksumFaultsAndMalformedHex) {
    Start(false, "T40H4");
    ASSERT_EQ(session_.Connect(), 0);
    const std::string dataSet = Join({"AB.CDEF.GH", ":1000A000101112131415161718191A1B1C1D1E1FD8",
                                      ":1000B000000421212121212121212121212121216E",
                                      ":1018000000000000000000000000000000000000D8", kEnd});
    sim::T40Faults faults;
    faults.wrongDataSetChecksum = true;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Download(3, dataSet), -56);
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: finished with Errors"));

    faults = {};
    faults.checksumBusy = 2;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Download(3, dataSet), 0);

    const uint32_t frames = ecu_->FramesReceived();
    EXPECT_EQ(session_.Download(3, Join({"AB.CDEF.GH", ":1000A00010111213141516171819", kEnd})),
              -50);
    EXPECT_EQ(ecu_->FramesReceived(), frames);  // nothing was sent
}

TEST_F(T40Session, H5SoftwareDownloadThroughTheBootLoader) {
    Start(true, "T40H5");
    ASSERT_EQ(session_.Connect(), 0);
    int32_t result = 1;
    const std::string upload = session_.Upload(result);
    EXPECT_EQ(result, 0);
    EXPECT_NE(upload.find("TheHardware=T40H5|"), std::string::npos);
    EXPECT_NE(upload.find("[T40ADAPTION]|00001=:80000000"), std::string::npos);
    EXPECT_NE(upload.find("00005=:00000001FF|[T40BDS]|00001=:80000000"), std::string::npos);
    EXPECT_NE(upload.find("00004=:00000001FF|"), std::string::npos);

    sim::T40Faults faults;
    faults.eraseBusy = 2;
    ecu_->InjectFaults(faults);
    // Two records at 0x28000 and 0x28010.
    const std::string software =
        Join({":020000040002F8", ":10800000000102030405060708090A0B0C0D0E0FF8",
              ":10801000101112131415161718191A1B1C1D1E1FE8", kEnd});
    EXPECT_EQ(session_.Download(2, software), 0);
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: Flashmode active!!!"));
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: Erase Flash activ"));
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: Set Baudrate 38400 Baud ok"));
    EXPECT_EQ(ecu_->RequestedBaud(), 38400);
    const std::map<uint32_t, uint8_t> flash = ecu_->Flash();
    ASSERT_EQ(flash.size(), 32u);
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(flash.at(0x28000 + i), (i / 16) * 16 + i % 16);
    EXPECT_FALSE(ecu_->InBootLoader());
    EXPECT_EQ(session_.Request("03 07 00 02 08", result), "43 48 35");
    EXPECT_EQ(result, 0);
}

TEST_F(T40Session, EraseThatNeverEndsFailsTheDownloadWithinItsBound) {
    Start(true, "T40H5");
    ASSERT_EQ(session_.Connect(), 0);
    sim::T40Faults faults;
    faults.eraseBusy = 1000000;
    ecu_->InjectFaults(faults);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session_.Download(2, Join({":020000040002F8",
                                         ":10800000000102030405060708090A0B0C0D0E0FF8", kEnd})),
              -7);
    // 120 waits of 500 ms and five failed attempts, a tenth of it in real time; the restart
    // finds the controller still in its boot loader.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(session_.HasProgress("ServiceDownload: Finished with error. Line: 1"));
    EXPECT_TRUE(ecu_->Flash().empty());
}

TEST_F(T40Session, PortThatVanishesEndsRequestsAndConnects) {
    Start(false, "T40H4|TIMEOUT_SERVICESINGLEREQUEST=3000");
    ASSERT_EQ(session_.Connect(), 0);
    ecu_->Stop();
    int32_t result = 1;
    EXPECT_EQ(session_.Request("00", result), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(session_.Connect(), -7);
}

TEST_F(T40Session, ControllerOfTheOtherKindIsRefused) {
    Start(true, "T40H4");
    EXPECT_EQ(session_.Connect(), -2);
    EXPECT_TRUE(session_.HasProgress("ServiceConnectToObject: Check ECU Ident failed"));
}

}  // namespace
}  // namespace diagbridge::testing
