// The K-line (KWP2000 on a T60) and the T40 serial line, each controller in a process of its
// own behind a pseudo-terminal: killed under a download, its line closed under a request,
// restarted on another pseudo-terminal, stalled in response-pending, answering another service.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "devices/ScopedComPort.h"
#include "faults/FaultClient.h"
#include "faults/SimProcess.h"
#include "sim/kline/IntelHexText.h"

namespace diagbridge::testing {
namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

constexpr int32_t kFailed = -1;
constexpr int32_t kTimedOut = -5;
constexpr milliseconds kSingleRequestTimeout = 500ms;  // the T60's and T40's own
constexpr milliseconds kMargin = 5000ms;               // a loaded machine
constexpr const char* kDeviceLine = " on /dev/";
constexpr size_t kImageBytes = 2048;  // dozens of records: the transfer lasts seconds
// The K-line's development access a download needs.
constexpr int32_t kMakerOem = 0;
constexpr int32_t kDevelopmentMode = 0x86;
constexpr int32_t kAccessBaud = 19200;

// One protocol on its serial line, and what a download and a plain request look like on it.
struct SerialStack {
    const char* name;
    std::vector<std::string> simArgs;
    const char* protocol;
    uint8_t port;
    const char* model;
    milliseconds downloadTimeout;
    bool downloadNeedsAccess;  // the development access
    int32_t downloadType;
    uint32_t imageAddress;
    size_t recordBytes;
    const char* transferUnderWay;  // progress text of the data transfer
    int32_t killedDownloadResult;
    const char* request;  // a request the controller answers in any session

    std::string Communication() const {
        return std::string(protocol) + "|RS232=" + std::to_string(port) + "|PROGRESS=1";
    }
    // The model with a download time-out that the campaign can wait for.
    std::string Ecu() const {
        return std::string(model) +
               "|TIMEOUT_SERVICEDOWNLOAD=" + std::to_string(downloadTimeout.count());
    }
};

const SerialStack kKline = {.name = "KWP2000 T60",
                            .simArgs = {"kline", "--model", "T60", "--wired"},
                            .protocol = "KWP2000",
                            .port = 7,
                            .model = "T60",
                            .downloadTimeout = 30000ms,
                            .downloadNeedsAccess = true,
                            .downloadType = 4,
                            .imageAddress = 0x8000,
                            .recordBytes = 32,
                            .transferUnderWay = "ServiceDownload: Data transfer",
                            .killedDownloadResult = -53,
                            .request = "1A 93"};
const SerialStack kT40 = {.name = "T40H5",
                          .simArgs = {"t40", "--h5"},
                          .protocol = "ISO_9141",
                          .port = 8,
                          .model = "T40H5",
                          .downloadTimeout = 60000ms,
                          .downloadNeedsAccess = false,
                          .downloadType = 2,
                          .imageAddress = 0x28000,
                          .recordBytes = 16,
                          .transferUnderWay = "ServiceDownload: Data transfer",
                          .killedDownloadResult = -7,
                          .request = "03 07 00 02 08"};

// A controller of stack on a pseudo-terminal that the stack's COM port points at.
class SerialEcu {
  public:
    SerialEcu(const SerialStack& stack, const std::vector<std::string>& faults) {
        std::vector<std::string> args = stack.simArgs;
        for (const std::string& fault : faults) {
            args.push_back("--fault");
            args.push_back(fault);
        }
        const std::optional<std::string> line = process.Start(args, kDeviceLine);
        EXPECT_TRUE(line.has_value()) << stack.name;
        if (line) device = DevicePathOf(*line);
    }
    SimProcess process;
    std::string device;
};

class SerialFaultTest : public ::testing::Test {
  protected:
    // Starts a controller and points the stack's COM port at it.
    std::unique_ptr<SerialEcu> StartEcu(const SerialStack& stack,
                                        const std::vector<std::string>& faults = {}) {
        auto ecu = std::make_unique<SerialEcu>(stack, faults);
        port_.reset();
        port_.emplace(stack.port, ecu->device);
        return ecu;
    }
    // Connects, with the access a download needs.
    void Prepare(const SerialStack& stack, FaultClient& client) {
        ASSERT_EQ(client.Connect().result, 0) << stack.name;
        if (stack.downloadNeedsAccess) {
            ASSERT_EQ(client.Access(kMakerOem, kDevelopmentMode, kAccessBaud, true).result, 0);
        }
    }
    // A connect and a request that gets the answer the controller gave before the fault.
    void ExpectRecovered(const SerialStack& stack, FaultClient& client, const Outcome& own) {
        ASSERT_EQ(client.Connect().result, 0) << stack.name;
        const Outcome again = client.Request(stack.request);
        EXPECT_EQ(again.result, 0);
        EXPECT_EQ(again.text, own.text);
    }

  private:
    std::optional<testfakes::ScopedComPort> port_;
};

// The controller's process dies in the middle of the data transfer: the download ends with
// the stack's failure well before its time-out, and a controller started again (on another
// pseudo-terminal, as a re-plugged adapter gets) answers the next connect.
TEST_F(SerialFaultTest, EcuKilledMidDownloadFailsTheDownloadAndTheNextConnectWorks) {
    for (const SerialStack* stack : {&kKline, &kT40}) {
        SCOPED_TRACE(stack->name);
        std::unique_ptr<SerialEcu> ecu = StartEcu(*stack);
        FaultClient client(stack->Communication(), stack->Ecu());
        Prepare(*stack, client);
        const Outcome own = client.Request(stack->request);
        ASSERT_EQ(own.result, 0);

        const std::string hex =
            sim::IntelHexText(stack->imageAddress, TestImage(kImageBytes), stack->recordBytes, '|');
        Outcome download;
        std::thread run([&] { download = client.Download(stack->downloadType, hex); });
        const bool underWay = client.AwaitProgress(stack->transferUnderWay);
        ecu->process.Kill(SIGKILL);
        const auto killed = std::chrono::steady_clock::now();
        run.join();
        EXPECT_TRUE(underWay);
        EXPECT_EQ(download.result, stack->killedDownloadResult);
        EXPECT_LT(std::chrono::steady_clock::now() - killed, stack->downloadTimeout);

        ecu = StartEcu(*stack);
        ExpectRecovered(*stack, client, own);
    }
}

// The controller comes back on a new pseudo-terminal while the old one is gone: the client
// points the COM port at the new one and connects again.
TEST_F(SerialFaultTest, ControllerRestartedOnANewPortIsReachedAfterRepointing) {
    for (const SerialStack* stack : {&kKline, &kT40}) {
        SCOPED_TRACE(stack->name);
        std::unique_ptr<SerialEcu> ecu = StartEcu(*stack);
        FaultClient client(stack->Communication(), stack->Ecu());
        ASSERT_EQ(client.Connect().result, 0);
        const Outcome own = client.Request(stack->request);
        ASSERT_EQ(own.result, 0);

        // Started before the old one ends, so that its device is another one.
        std::unique_ptr<SerialEcu> restarted = StartEcu(*stack);
        ASSERT_NE(restarted->device, ecu->device);
        ecu->process.Kill(SIGKILL);
        const Outcome lost = client.Request(stack->request);
        EXPECT_EQ(lost.result, kFailed);
        EXPECT_EQ(lost.text, "");
        EXPECT_LT(lost.took, kSingleRequestTimeout + kMargin);

        ExpectRecovered(*stack, client, own);
    }
}

// The controller ends and closes its side of the line while an upload waits through the
// response-pending answers of its first memory read: the upload fails (-1) instead of
// running into its time-out (-5), and hands out no upload text.
TEST_F(SerialFaultTest, LineClosedUnderARunningUploadFailsIt) {
    std::unique_ptr<SerialEcu> ecu = StartEcu(kKline, {"pending:250@23*1"});
    constexpr milliseconds kUploadTimeout = 20000ms;
    FaultClient client(kKline.Communication(),
                       "T60|TIMEOUT_SERVICEUPLOAD=" + std::to_string(kUploadTimeout.count()));
    ASSERT_EQ(client.Connect().result, 0);
    const Outcome own = client.Request(kKline.request);
    ASSERT_EQ(own.result, 0);

    Outcome upload;
    std::thread run([&] { upload = client.Upload(); });
    const bool underWay = client.AwaitProgress("ServiceUpload: Upload Memory");
    ecu->process.Kill(SIGTERM);
    run.join();
    EXPECT_TRUE(underWay);
    EXPECT_EQ(upload.result, kFailed);
    EXPECT_EQ(upload.text, "");
    EXPECT_LT(upload.took, kUploadTimeout);

    ecu = StartEcu(kKline);
    ExpectRecovered(kKline, client, own);
}

// Sixty pending answers outlast the T60's 500 ms single-request time-out: the request ends
// at its time-out, and the pending answers and the late answer reach no later request.
TEST_F(SerialFaultTest, ResponsePendingPastTheTimeoutEndsAtTheTimeoutWithNothingStale) {
    std::unique_ptr<SerialEcu> ecu = StartEcu(kKline, {"pending:60@21*1"});
    FaultClient client(kKline.Communication(), kKline.Ecu());
    ASSERT_EQ(client.Connect().result, 0);
    const Outcome own = client.Request(kKline.request);
    ASSERT_EQ(own.result, 0);

    const Outcome request = client.Request("21 03");
    EXPECT_EQ(request.result, kTimedOut);
    EXPECT_EQ(request.text, "");
    EXPECT_LT(request.took, kSingleRequestTimeout + kMargin);

    const Outcome ident = client.Ident();
    EXPECT_EQ(ident.result, 0);
    EXPECT_NE(ident.text.find("NAME=T60|"), std::string::npos) << ident.text;
    const Outcome next = client.Request(kKline.request);
    EXPECT_EQ(next.result, 0);
    EXPECT_EQ(next.text, own.text);
}

// The controller answers a local data read with another service's answer, once: the client
// does not take it for the answer, nor does the next request that it fits.
TEST_F(SerialFaultTest, AnswerOfAnotherServiceIsNeverTakenForAnAnswer) {
    struct Case {
        const char* name;
        const char* fault;
    };
    const Case cases[] = {
        {"positive answer of an identification read", "foreign:5A93414243@21*1"},
        {"negative answer of an identification read", "foreign:7F1A31@21*1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SerialEcu> ecu = StartEcu(kKline, {c.fault});
        FaultClient client(kKline.Communication(), kKline.Ecu());
        ASSERT_EQ(client.Connect().result, 0);
        const Outcome own = client.Request(kKline.request);
        ASSERT_EQ(own.result, 0);

        const Outcome read = client.Request("21 03");
        EXPECT_EQ(read.result, kTimedOut);
        EXPECT_EQ(read.text, "");
        EXPECT_LT(read.took, kSingleRequestTimeout + kMargin);
        const Outcome next = client.Request(kKline.request);
        EXPECT_EQ(next.result, 0);
        EXPECT_EQ(next.text, own.text);
    }
}

}  // namespace
}  // namespace diagbridge::testing
