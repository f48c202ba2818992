// The UDS stack on the Samtec adapter path, end to end: the SamDiaX substitute on a CAN hub
// with the virtual T60.1 on it, a recorder on the same hub for what goes over the wire.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "HexTestSupport.h"
#include "component/CCommandInterface.h"
#include "drivers/xl/CanFrame.h"
#include "drivers/xl/HubProtocol.h"
#include "platform/Clock.h"
#include "sim/can/CanHub.h"
#include "sim/uds/UdsVirtualEcu.h"

namespace diagbridge {
namespace {

constexpr uint32_t kRequestId = 0x18DA03F1;
constexpr uint32_t kFunctionalId = 0x18DBFFF1;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct WireFrame {
    uint32_t id;
    std::vector<uint8_t> bytes;  // dlc bytes
};

// A member of the hub at one bit rate that keeps every frame it hears.
class WireRecorder {
  public:
    WireRecorder(const std::string& path, uint32_t bitRate) {
        fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        uint8_t announcement[xl::hub::kAnnouncementSize];
        xl::hub::EncodeAnnouncement(bitRate, announcement);
        EXPECT_EQ(send(fd_, announcement, sizeof(announcement), 0), 8);
        thread_ = std::thread([this] { Run(); });
    }
    ~WireRecorder() {
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    std::vector<WireFrame> Frames(uint32_t id) {
        std::lock_guard lock(mutex_);
        std::vector<WireFrame> found;
        for (const WireFrame& frame : frames_) {
            if (frame.id == id) found.push_back(frame);
        }
        return found;
    }

  private:
    void Run() {
        for (;;) {
            uint8_t packet[xl::kSocketCanFrameSize];
            const ssize_t size = recv(fd_, packet, sizeof(packet), 0);
            if (size <= 0) return;
            xl::CanFrame frame;
            if (!xl::DecodeSocketCan(packet, static_cast<size_t>(size), frame)) continue;
            std::lock_guard lock(mutex_);
            frames_.push_back({frame.id & ~xl::kExtendedId, {frame.data, frame.data + frame.dlc}});
        }
    }
    int fd_ = -1;
    std::mutex mutex_;
    std::vector<WireFrame> frames_;
    std::thread thread_;
};

// A hub in a fresh directory, the substitute pointed at it, and the virtual T60.1 on it.
class SamtecSession {
  public:
    explicit SamtecSession(uint32_t ecuBitRate = 666666, bool ecuOn = true) : scoped_(clock_) {
        char pattern[] = "/tmp/diagbridge-samtec-XXXXXX";
        directory_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        path_ = directory_ + "/hub";
        selector_ = "hub:" + path_;
        setenv("DIAGBRIDGE_SAMTEC_CAN", selector_.c_str(), 1);
        setenv("DIAGBRIDGE_XL", selector_.c_str(), 1);
        StartHub();
        if (ecuOn) StartEcu(ecuBitRate);
    }
    ~SamtecSession() {
        int32_t result = 0;
        if (communication_ >= 0) component_.DbrDeleteCommunicationObject(communication_, &result);
        if (ecu_) ecu_->Stop();
        hub_.Stop();
        rmdir(directory_.c_str());
        unsetenv("DIAGBRIDGE_SAMTEC_CAN");
    }

    void StartHub() {
        std::string error;
        ASSERT_TRUE(hub_.Start(path_, error)) << error;
    }
    void StopHub() { hub_.Stop(); }
    void StartEcu(uint32_t bitRate) {
        sim::UdsEcuProfile profile = sim::DefaultUdsEcuProfile();
        std::string error;
        ASSERT_TRUE(sim::ProfileForModel("T60.1", profile, error)) << error;
        profile.bitRate = bitRate;
        ecu_ = std::make_unique<sim::UdsVirtualEcu>(profile);
        ASSERT_TRUE(ecu_->Start(selector_, error)) << error;
    }
    void StopEcu() { ecu_->Stop(); }

    int32_t Create(const std::string& parameter) {
        component_.DbrCreateCommunicationObject(parameter, &communication_);
        return communication_;
    }
    // Creates the ECU object on the communication object and connects; the connect result.
    int32_t Connect(const std::string& model = "T60.1") {
        if (ecuId_ < 0) component_.DbrCreateEcuObject(model, communication_, &ecuId_);
        if (ecuId_ < 0) return ecuId_;
        int32_t result = 0;
        component_.DbrConnect(ecuId_, &result);
        return result;
    }
    std::string Request(const std::string& request, int32_t& result, int32_t addressMode = 0) {
        std::string response;
        component_.DbrExtSingleRequest(ecuId_, addressMode, request, &response, &result);
        return response;
    }
    int32_t Access(int32_t index) {
        int32_t result = 0;
        component_.DbrSetPredefinedDiagnosticAccess(ecuId_, index, &result);
        return result;
    }
    std::string Ident(int32_t& result) {
        std::string text;
        component_.DbrGetIdent(ecuId_, &text, &result);
        return text;
    }
    std::string Upload(int32_t& result) {
        std::string text;
        component_.DbrUpload(ecuId_, "", &text, &result);
        return text;
    }
    int32_t Download(const std::string& hexText) {
        int32_t result = 0;
        component_.DbrDownload(ecuId_, 0, hexText, &result);
        return result;
    }
    sim::UdsVirtualEcu& Ecu() { return *ecu_; }
    sim::CanHub& Hub() { return hub_; }
    const std::string& Path() const { return path_; }

  private:
    platform::ManualClock clock_;
    platform::ScopedClock scoped_;
    std::string directory_;
    std::string path_;
    std::string selector_;
    sim::CanHub hub_;
    std::unique_ptr<sim::UdsVirtualEcu> ecu_;
    CCommandInterface component_;
    int32_t communication_ = -1;
    int32_t ecuId_ = -1;
};

TEST(SamtecEndToEndTest, DefaultObjectConnectsReadsUploadsAndFlashesAT601) {
    SamtecSession session;
    ASSERT_EQ(session.Create("UDS_ISO_14229"), 0);
    ASSERT_EQ(session.Connect(), 0);
    int32_t result = 1;
    EXPECT_TRUE(Has(session.Request("22 F1 90", result), "62 F1 90"));
    EXPECT_EQ(result, 0);
    const std::string ident = session.Ident(result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(ident, "SERIALNUMBER=1234567|")) << ident;
    for (int32_t access : {2, 3, 4}) EXPECT_EQ(session.Access(access), 0) << access;
    const std::vector<uint8_t> data = test::Ramp(300, 0x10);
    std::string hex = test::LinearRecord(0x0001);
    for (size_t i = 0; i < data.size(); i += 32) {
        const auto end = data.begin() + long(std::min<size_t>(i + 32, data.size()));
        hex += "|" + test::DataRecord(uint16_t(0x2000 + i),
                                      std::vector<uint8_t>(data.begin() + long(i), end));
    }
    EXPECT_EQ(session.Download(hex + "|" + test::kEndRecord), 0);
    session.Ecu().Inspect([&](const sim::UdsEcuServices& ecu) {
        ASSERT_EQ(ecu.Image().size(), 1u);
        EXPECT_EQ(ecu.Image()[0].data, data);
    });
    const std::string upload = session.Upload(result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(upload, "[EventMemChronical]|EventAnz=2|")) << upload.substr(0, 400);
}

// With the fill byte off a frame carries only its bytes; on, every frame is 8 bytes padded
// with the model's fill byte. Functional requests go out on the functional identifier.
TEST(SamtecEndToEndTest, FillByteAndFunctionalRequestsOnTheWire) {
    struct Case {
        const char* model;
        bool padded;
    } const cases[] = {{"T60.1|USEFILLBYTE=0", false}, {"T60.1|USEFILLBYTE=1|FILLBYTE=85", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        SamtecSession session;
        WireRecorder recorder(session.Path(), 666666);
        ASSERT_EQ(session.Create("UDS_ISO_14229"), 0);
        ASSERT_EQ(session.Connect(c.model), 0);
        int32_t result = 1;
        EXPECT_TRUE(Has(session.Request("22 F1 90", result), "62 F1 90"));  // flow control out
        EXPECT_EQ(session.Request("3E 80", result, 1), "");
        EXPECT_EQ(result, 0);
        std::vector<WireFrame> requests = recorder.Frames(kRequestId);
        std::vector<WireFrame> functional = recorder.Frames(kFunctionalId);
        for (int i = 0; i < 100 && functional.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            functional = recorder.Frames(kFunctionalId);
        }
        ASSERT_FALSE(functional.empty());
        requests = recorder.Frames(kRequestId);
        const std::vector<uint8_t> readVin = {0x03, 0x22, 0xF1, 0x90};
        const std::vector<uint8_t> flowControl = {0x30, 0x00, 0x00};
        const std::vector<uint8_t> testerPresent = {0x02, 0x3E, 0x80};
        auto expected = [&](std::vector<uint8_t> bytes) {
            if (c.padded) bytes.resize(8, 85);
            return bytes;
        };
        bool sawRead = false;
        bool sawFlowControl = false;
        for (const WireFrame& frame : requests) {
            sawRead |= frame.bytes == expected(readVin);
            sawFlowControl |= frame.bytes == expected(flowControl);
        }
        EXPECT_TRUE(sawRead);
        EXPECT_TRUE(sawFlowControl);
        EXPECT_EQ(functional.back().bytes, expected(testerPresent));
    }
}

// BAUDRATE=0 probes 666666, 500000, 250000 bit/s with a tester present; the hub acknowledges
// a frame only where a member runs at its rate.
TEST(SamtecEndToEndTest, BitRateDetectionFindsTheEcu) {
    for (uint32_t rate : {500000u, 250000u}) {
        SCOPED_TRACE(rate);
        SamtecSession session(rate);
        ASSERT_EQ(session.Create("UDS_ISO_14229|BAUDRATE=0"), 0);
        ASSERT_EQ(session.Connect(), 0);
        int32_t result = 1;
        EXPECT_TRUE(Has(session.Request("22 F1 90", result), "62 F1 90"));
        EXPECT_EQ(result, 0);
    }
    SamtecSession silent(500000, false);
    ASSERT_EQ(silent.Create("UDS_ISO_14229|BAUDRATE=0"), 0);
    EXPECT_EQ(silent.Connect(), -7);
}

// Without the adapter's transport the connect fails at its start; once the transport is there
// the next connect works. A transport lost between requests fails the request with the
// adapter's error text, and the request after it works again.
TEST(SamtecEndToEndTest, MissingAndVanishingTransportAndFailedRequests) {
    SamtecSession session(666666, false);
    session.StopHub();
    ASSERT_EQ(session.Create("UDS_ISO_14229"), 0);
    EXPECT_EQ(session.Connect("T60.1|TIMEOUT_SERVICESINGLEREQUEST=5000"), -1);
    session.StartHub();
    session.StartEcu(666666);
    // A single request may take longer than the adapter waits for an answer.
    ASSERT_EQ(session.Connect("T60.1|TIMEOUT_SERVICESINGLEREQUEST=5000"), 0);

    int32_t result = 0;
    session.StopEcu();
    session.StopHub();
    EXPECT_EQ(session.Request("22 F1 90", result), "No acknowledge on the bus");
    EXPECT_EQ(result, -1);
    session.StartHub();
    session.StartEcu(666666);
    EXPECT_TRUE(Has(session.Request("22 F1 90", result), "62 F1 90"));
    EXPECT_EQ(result, 0);

    sim::UdsFaultPlan plan;
    std::string error;
    ASSERT_TRUE(sim::ParseUdsFault("silent:22", plan, error)) << error;
    session.Ecu().SetFaults(plan);
    EXPECT_EQ(session.Request("22 F1 90", result), "No response from the ECU");
    EXPECT_EQ(result, -1);
    session.Ecu().SetFaults({});
    EXPECT_TRUE(Has(session.Request("22 F1 90", result), "62 F1 90"));
    EXPECT_EQ(result, 0);
}

// Every connect of the Vector path reopens its channel; on the hub the channel keeps its one
// connection, so the ECU's answers are heard once and every request gets its own answer.
TEST(SamtecEndToEndTest, HubReconnectsKeepOneConnectionPerChannel) {
    SamtecSession session(500000);
    ASSERT_EQ(session.Create("UDS_ISO_14229|VECTOR=1|BAUDRATE=500000"), 0);
    const size_t accepted = session.Hub().AcceptedCount();
    for (int i = 0; i < 48; ++i) {
        // A generous request time-out: the hub and the ECU share a loaded machine.
        ASSERT_EQ(session.Connect("T60.1|TIMEOUT_SERVICESINGLEREQUEST=5000"), 0) << i;
        int32_t result = 1;
        const std::string response = session.Request("22 F1 90", result);
        ASSERT_EQ(result, 0) << i;
        ASSERT_TRUE(Has(response, "62 F1 90")) << i << " " << response;
    }
    // The ECU's connection and the tester channel's one, opened at the first connect.
    EXPECT_LE(session.Hub().AcceptedCount(), accepted + 1);
}

}  // namespace
}  // namespace diagbridge
