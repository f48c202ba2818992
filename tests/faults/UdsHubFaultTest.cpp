// UDS on a CAN hub shared with a virtual T60.1 in another process: the controller or the hub
// killed under a download or a connection, a controller that stays response-pending, one that
// answers another service.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <memory>
#include <thread>
#include <vector>

#include "drivers/TestFiles.h"
#include "faults/FaultClient.h"
#include "faults/SimProcess.h"
#include "sim/kline/IntelHexText.h"

namespace diagbridge::testing {
namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

constexpr int32_t kFailed = -1;
constexpr int32_t kTimedOut = -5;
constexpr int32_t kTransferDataFailed = -53;
constexpr int32_t kProgrammingAccess = 3;
constexpr int32_t kDownloadType = 0;
constexpr uint32_t kImageAddress = 0x00400000;
constexpr size_t kRecordBytes = 32;
// At 1 ms per consecutive frame a transfer of this image lasts seconds.
constexpr size_t kLongImageBytes = 64 * 1024;
constexpr size_t kShortImageBytes = 256;
constexpr const char* kCommunication = "UDS_ISO_14229|VECTOR=1|BAUDRATE=500000|PROGRESS=1";
constexpr milliseconds kDownloadTimeout = 30000ms;
constexpr milliseconds kSingleRequestTimeout = 500ms;  // the T60.1's own
// Room for a loaded machine on top of every promised bound.
constexpr milliseconds kMargin = 5000ms;
constexpr const char* kTransferUnderWay = "ServiceDownload: TransferData";

// The T60.1 with a download time-out that a campaign can wait for.
std::string Ecu() {
    return "T60.1|TIMEOUT_SERVICEDOWNLOAD=" + std::to_string(kDownloadTimeout.count());
}

class UdsHubFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bus_ = dir_.File("bus");
        ::setenv("DIAGBRIDGE_XL", ("hub:" + bus_).c_str(), 1);
        StartHub();
        StartEcu({});
    }
    void StartHub() { ASSERT_TRUE(hub_.Start({"hub", bus_}, "CAN hub listening")); }
    // The ECU asks for 1 ms between consecutive frames, so that a download lasts a while.
    void StartEcu(const std::vector<std::string>& faults) {
        std::vector<std::string> args = {"uds",  "--model", "T60.1",   "--bus", "hub:" + bus_,
                                         "--bs", "8",       "--stmin", "01"};
        for (const std::string& fault : faults) {
            args.push_back("--fault");
            args.push_back(fault);
        }
        ASSERT_TRUE(ecu_.Start(args, "Ctrl-C ends"));
    }
    void RestartEcu() {
        ecu_.Kill(SIGTERM);
        StartEcu({});
    }
    void ConnectWithAccess(FaultClient& client) {
        ASSERT_EQ(client.Connect().result, 0);
        ASSERT_EQ(client.Access(kProgrammingAccess).result, 0);
    }
    // Runs a 64 KiB download and kills process with SIGKILL once the transfer is under way.
    // The download's outcome; killedToEnd is the time from the kill to its end.
    Outcome DownloadKilledUnderWay(FaultClient& client, SimProcess& process,
                                   milliseconds& killedToEnd) {
        const std::string hex =
            sim::IntelHexText(kImageAddress, TestImage(kLongImageBytes), kRecordBytes, '|');
        Outcome outcome;
        std::thread download([&] { outcome = client.Download(kDownloadType, hex); });
        const bool underWay = client.AwaitProgress(kTransferUnderWay);
        process.Kill(SIGKILL);
        const auto killed = std::chrono::steady_clock::now();
        download.join();
        killedToEnd =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - killed);
        EXPECT_TRUE(underWay);
        return outcome;
    }
    // A connect, a request that gets its own answer, and a whole download work.
    void ExpectRecovered(FaultClient& client) {
        ASSERT_EQ(client.Connect().result, 0);
        const Outcome vin = client.Request("22 F1 90");
        EXPECT_EQ(vin.result, 0);
        EXPECT_EQ(vin.text.rfind("62 F1 90 ", 0), 0u) << vin.text;
        EXPECT_EQ(client.Access(kProgrammingAccess).result, 0);
        EXPECT_EQ(client
                      .Download(kDownloadType,
                                sim::IntelHexText(kImageAddress, TestImage(kShortImageBytes),
                                                  kRecordBytes, '|'))
                      .result,
                  0);
    }

    xl::TempDir dir_;
    std::string bus_;
    SimProcess hub_;
    SimProcess ecu_;
};

TEST_F(UdsHubFaultTest, EcuKilledMidDownloadFailsTheDownloadAndAFreshEcuIsFlashed) {
    FaultClient client(kCommunication, Ecu());
    ConnectWithAccess(client);
    milliseconds killedToEnd{};
    const Outcome download = DownloadKilledUnderWay(client, ecu_, killedToEnd);
    EXPECT_EQ(download.result, kTransferDataFailed);
    EXPECT_LT(killedToEnd, kDownloadTimeout);

    StartEcu({});
    ExpectRecovered(client);
}

TEST_F(UdsHubFaultTest, HubKilledMidDownloadFailsTheDownloadAndTheClientReconnects) {
    FaultClient client(kCommunication, Ecu());
    ConnectWithAccess(client);
    milliseconds killedToEnd{};
    const Outcome download = DownloadKilledUnderWay(client, hub_, killedToEnd);
    EXPECT_EQ(download.result, kTransferDataFailed);
    EXPECT_LT(killedToEnd, kDownloadTimeout);

    StartHub();
    RestartEcu();
    ExpectRecovered(client);
}

TEST_F(UdsHubFaultTest, HubKilledWhileConnectedFailsTheNextRequestAndTheClientReconnects) {
    FaultClient client(kCommunication, Ecu());
    ASSERT_EQ(client.Connect().result, 0);
    hub_.Kill(SIGKILL);
    const Outcome request = client.Request("22 F1 90");
    EXPECT_EQ(request.result, kFailed);
    EXPECT_EQ(request.text, "");
    EXPECT_LT(request.took, kSingleRequestTimeout + kMargin);

    StartHub();
    RestartEcu();
    ExpectRecovered(client);
}

// Twenty pending answers 50 ms apart outlast the single request's 500 ms: the request ends
// at its time-out, and neither the pending answers nor the late answer reach a later request.
TEST_F(UdsHubFaultTest, ResponsePendingPastTheTimeoutEndsAtTheTimeoutWithNothingStale) {
    ecu_.Kill(SIGTERM);
    StartEcu({"pending:22:20:50"});
    FaultClient client(kCommunication, Ecu());
    ASSERT_EQ(client.Connect().result, 0);
    const Outcome request = client.Request("22 F1 90");
    EXPECT_EQ(request.result, kTimedOut);
    EXPECT_EQ(request.text, "");
    EXPECT_LT(request.took, kSingleRequestTimeout + kMargin);

    const Outcome ident = client.Ident();
    EXPECT_EQ(ident.result, 0);
    EXPECT_NE(ident.text.find("|SERIALNUMBER=1234567|"), std::string::npos) << ident.text;
    const Outcome present = client.Request("3E 00");
    EXPECT_EQ(present.result, 0);
    EXPECT_EQ(present.text, "7E 00");

    RestartEcu();
    ExpectRecovered(client);
}

// The controller answers a trouble-code read with the answer of another service: the client
// does not take it for the answer (the request runs into its time-out), nor does the next
// request that the foreign answer fits.
TEST_F(UdsHubFaultTest, AnswerOfAnotherServiceIsNeverTakenForAnAnswer) {
    struct Case {
        const char* name;
        const char* fault;
    };
    const Case cases[] = {
        {"positive answer of a data read", "foreign:19:62F1904142"},
        {"negative answer of a data read", "foreign:19:7F2231"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ecu_.Kill(SIGTERM);
        StartEcu({c.fault});
        FaultClient client(kCommunication, Ecu());
        ASSERT_EQ(client.Connect().result, 0);
        const Outcome own = client.Request("22 F1 90");
        ASSERT_EQ(own.result, 0);

        const Outcome dtc = client.Request("19 02 FF");
        EXPECT_EQ(dtc.result, kTimedOut);
        EXPECT_EQ(dtc.text, "");
        EXPECT_LT(dtc.took, kSingleRequestTimeout + kMargin);
        const Outcome next = client.Request("22 F1 90");
        EXPECT_EQ(next.result, 0);
        EXPECT_EQ(next.text, own.text);
    }
}

}  // namespace
}  // namespace diagbridge::testing
