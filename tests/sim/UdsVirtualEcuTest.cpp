// The virtual UDS ECU on a bus, asked by the component's own ISO-TP channel.
#include "sim/uds/UdsVirtualEcu.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "can/CIsoTp.h"
#include "drivers/xl/VirtualCanBus.h"
#include "sim/can/CanHub.h"

namespace diagbridge::sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRequestId = 0x18DA03F1u | xl::kExtendedId;
constexpr uint32_t kResponseId = 0x18DAF103u | xl::kExtendedId;
constexpr uint32_t kFunctionalId = 0x18DBFFF1u | xl::kExtendedId;
const Bytes kVin = {'W', 'D', 'B', '9', '0', '6', '2', '3', '2',
                    '1', 'N', '1', '2', '3', '4', '5', '6'};

std::string UniqueName() {
    static int serial = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->name()) + "#" + std::to_string(++serial);
}

// Every frame on a virtual bus.
class FrameLog : public xl::VirtualBusObserver {
  public:
    explicit FrameLog(std::shared_ptr<xl::VirtualCanBus> bus) : bus_(std::move(bus)) {
        bus_->AddObserver(this);
    }
    ~FrameLog() override { bus_->RemoveObserver(this); }
    void OnFrame(xl::VirtualCanBus&, const xl::CanFrame& frame, uint32_t) override {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
        changed_.notify_all();
    }
    // Waits (generously) until count frames from id begin with pci; then whether exactly
    // count do.
    bool HasCount(uint32_t id, uint8_t pci, size_t count) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::seconds(10),
                              [&] { return CountLocked(id, pci) >= count; });
        }
        return Count(id, pci) == count;
    }
    std::vector<Bytes> From(uint32_t id) const {
        std::lock_guard lock(mutex_);
        std::vector<Bytes> data;
        for (const xl::CanFrame& frame : frames_) {
            if (frame.id == id) data.emplace_back(frame.data, frame.data + frame.dlc);
        }
        return data;
    }
    // Frames from id whose first byte is pci.
    size_t Count(uint32_t id, uint8_t pci) const {
        std::lock_guard lock(mutex_);
        return CountLocked(id, pci);
    }

  private:
    size_t CountLocked(uint32_t id, uint8_t pci) const {
        size_t count = 0;
        for (const xl::CanFrame& frame : frames_) {
            count += frame.id == id && frame.dlc > 0 && frame.data[0] == pci ? 1 : 0;
        }
        return count;
    }

    std::shared_ptr<xl::VirtualCanBus> bus_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<xl::CanFrame> frames_;
};

// A tester channel and a virtual ECU on a fresh bus.
class UdsVirtualEcuTest : public ::testing::Test {
  protected:
    void Join(const UdsFaultPlan& faults = {}, UdsFlowSettings flow = {}) {
        const std::string selector = "virtual:" + UniqueName();
        bus_ = xl::VirtualCanBus::Named(selector.substr(8));
        log_ = std::make_unique<FrameLog>(bus_);
        UdsEcuProfile profile = DefaultUdsEcuProfile();
        profile.flow = flow;
        ecu_ = std::make_unique<UdsVirtualEcu>(profile);
        ecu_->SetFaults(faults);
        ecu_->OnAnswered([this](uint8_t, size_t) {
            std::lock_guard lock(mutex_);
            ++answered_;
            changed_.notify_all();
        });
        std::string error;
        ASSERT_TRUE(ecu_->Start(selector, error)) << error;
        tester_ = std::make_unique<CIsoTp>(xl::LoadXlSource(selector, error));
        ASSERT_EQ(tester_->Open(500, 0x03, 0xF1, CIsoTp::kKeepAliveNone), 1);
    }
    void JoinWith(const std::string& fault) {
        UdsFaultPlan plan;
        std::string error;
        ASSERT_TRUE(ParseUdsFault(fault, plan, error)) << error;
        Join(plan);
    }
    // Result of one exchange and the response.
    int32_t Ask(const Bytes& request, Bytes& response) {
        uint8_t buffer[4096];
        int32_t length = 0;
        const int32_t result = tester_->Transfer(request.data(), int32_t(request.size()), buffer,
                                                 sizeof(buffer), &length);
        response.assign(buffer, buffer + std::max(length, 0));
        return result;
    }
    Bytes Ask(const Bytes& request) {
        Bytes response;
        Ask(request, response);
        return response;
    }
    // Waits (generously) until the ECU has dealt with count requests in all.
    bool WaitAnswered(uint32_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return answered_ >= count; });
    }
    void Leave() {
        tester_.reset();
        ecu_.reset();
        log_.reset();
    }

    // Before the ECU, whose thread reports to them until it stops.
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t answered_ = 0;
    std::shared_ptr<xl::VirtualCanBus> bus_;
    std::unique_ptr<FrameLog> log_;
    std::unique_ptr<UdsVirtualEcu> ecu_;
    std::unique_ptr<CIsoTp> tester_;
};

Bytes VinAnswer() {
    Bytes answer = {0x62, 0xF1, 0x90};
    answer.insert(answer.end(), kVin.begin(), kVin.end());
    return answer;
}

// 2E FE FF with count data bytes: a segmented request.
Bytes LongWrite(size_t count) {
    Bytes request = {0x2E, 0xFE, 0xFF};
    for (size_t i = 0; i < count; ++i) request.push_back(uint8_t(i));
    return request;
}

TEST_F(UdsVirtualEcuTest, SegmentedResponseFramesOnTheBus) {
    Join();
    EXPECT_EQ(Ask({0x22, 0xF1, 0x90}), VinAnswer());
    ASSERT_TRUE(WaitAnswered(1));
    const std::vector<Bytes> frames = log_->From(kResponseId);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], (Bytes{0x10, 0x14, 0x62, 0xF1, 0x90, 'W', 'D', 'B'}));
    EXPECT_EQ(frames[1], (Bytes{0x21, '9', '0', '6', '2', '3', '2', '1'}));
    EXPECT_EQ(frames[2], (Bytes{0x22, 'N', '1', '2', '3', '4', '5', '6'}));
}

TEST_F(UdsVirtualEcuTest, FlowControlsCarryTheConfiguredBlockSizeAndSeparation) {
    Join({}, {2, 0x01});
    const Bytes request = LongWrite(40);  // 43 bytes: first frame and 6 consecutive frames
    EXPECT_EQ(Ask(request), (Bytes{0x6E, 0xFE, 0xFF}));
    const Bytes flow = {0x30, 0x02, 0x01, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_TRUE(log_->HasCount(kResponseId, 0x30, 3));
    EXPECT_EQ(log_->From(kResponseId).front(), flow);
    ecu_->Inspect([&](const UdsEcuServices& services) {
        ASSERT_NE(services.Identifier(0xFEFF), nullptr);
        EXPECT_EQ(services.Identifier(0xFEFF)->size(), 40u);
    });
}

TEST_F(UdsVirtualEcuTest, InjectedFaults) {
    struct Case {
        const char* fault;
        Bytes request;
        int32_t result;      // of the first exchange
        Bytes response;      // when it succeeded
        uint8_t framePci;    // a frame of the ECU to count
        size_t frames;       // how many of them
        uint32_t taken = 1;  // requests the ECU took whole
    };
    const Bytes vinRequest = {0x22, 0xF1, 0x90};
    const Case cases[] = {
        {"nrc:22:31", vinRequest, 3, {0x7F, 0x22, 0x31}, 0x03, 1},
        {"silent:22", vinRequest, CIsoTp::kErrTimedOut, {}, 0x10, 0},
        {"silent:22@2", vinRequest, 20, VinAnswer(), 0x10, 1},
        {"pending:22:3:10", vinRequest, 20, VinAnswer(), 0x03, 3},
        {"drop-cf:1", vinRequest, CIsoTp::kErrCommunication, {}, 0x22, 1},
        {"bad-sn:2", vinRequest, CIsoTp::kErrCommunication, {}, 0x23, 1},
        {"fc-wait:3", LongWrite(20), 3, {0x6E, 0xFE, 0xFF}, 0x31, 3},
        {"fc-overflow", LongWrite(20), CIsoTp::kErrCommunication, {}, 0x32, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        JoinWith(c.fault);
        Bytes response;
        EXPECT_EQ(Ask(c.request, response), c.result);
        if (c.result > 0) {
            EXPECT_EQ(response, c.response);
        }
        ASSERT_TRUE(WaitAnswered(c.taken));
        EXPECT_TRUE(log_->HasCount(kResponseId, c.framePci, c.frames));
        Leave();
        answered_ = 0;
    }
}

TEST_F(UdsVirtualEcuTest, AnEcuThatFellSilentAnswersTheNextService) {
    JoinWith("silent:22@2");
    EXPECT_EQ(Ask({0x22, 0xF1, 0x90}), VinAnswer());
    Bytes response;
    EXPECT_EQ(Ask({0x22, 0xF1, 0x90}, response), CIsoTp::kErrTimedOut);
    EXPECT_EQ(Ask({0x3E, 0x00}), (Bytes{0x7E, 0x00}));
    EXPECT_EQ(ecu_->RequestCount(), 3u);
}

// A controller answers only the tester address it is configured for.
TEST_F(UdsVirtualEcuTest, RequestsOfAnotherTesterAreNotAnswered) {
    Join();
    const uint32_t otherTesterRequest = 0x18DA03F2u | xl::kExtendedId;
    const uint32_t otherTesterResponse = 0x18DAF203u | xl::kExtendedId;
    const uint8_t present[8] = {0x02, 0x3E, 0x00, 0, 0, 0, 0, 0};
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(otherTesterRequest, 8, present)), 1);
    EXPECT_EQ(Ask({0x3E, 0x00}), (Bytes{0x7E, 0x00}));  // the frame before it was not heard
    EXPECT_EQ(ecu_->RequestCount(), 1u);
    EXPECT_TRUE(log_->From(otherTesterResponse).empty());
}

TEST_F(UdsVirtualEcuTest, FunctionalRequestsAreHeard) {
    Join();
    const uint8_t silentPresent[8] = {0x02, 0x3E, 0x80, 0, 0, 0, 0, 0};
    const uint8_t present[8] = {0x02, 0x3E, 0x00, 0, 0, 0, 0, 0};
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kFunctionalId, 8, silentPresent)), 1);
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kFunctionalId, 8, present)), 1);
    CCanObj answer;
    ASSERT_EQ(tester_->ReceiveFrame(answer, kResponseId, 5000), 1);
    EXPECT_EQ(Bytes(answer.data, answer.data + 3), (Bytes{0x02, 0x7E, 0x00}));
    ASSERT_TRUE(WaitAnswered(2));
    EXPECT_EQ(log_->From(kResponseId).size(), 1u);
}

TEST_F(UdsVirtualEcuTest, ARequestThatBreaksOffIsDroppedAndTheNextOneServed) {
    Join();
    const uint8_t first[8] = {0x10, 0x20, 0x2E, 0xFE, 0xFF, 1, 2, 3};
    const uint8_t single[8] = {0x03, 0x22, 0xF1, 0x8C, 0, 0, 0, 0};
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, first)), 1);
    CCanObj flow;
    ASSERT_EQ(tester_->ReceiveFrame(flow, kResponseId, 5000), 1);
    EXPECT_EQ(flow.data[0], 0x30);
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, single)), 1);  // starts over
    CCanObj answer;
    ASSERT_EQ(tester_->ReceiveFrame(answer, kResponseId, 5000), 1);
    EXPECT_EQ(Bytes(answer.data, answer.data + 8),
              (Bytes{0x07, 0x62, 0xF1, 0x8C, 0x00, 0x12, 0xD6, 0x87}));
}

TEST_F(UdsVirtualEcuTest, TheEcuObeysTheTestersBlockSizeAndWaits) {
    Join();
    const uint8_t request[8] = {0x03, 0x22, 0xF1, 0x90, 0, 0, 0, 0};
    const uint8_t oneFrame[8] = {0x30, 0x01, 0x00, 0, 0, 0, 0, 0};
    const uint8_t wait[8] = {0x31, 0x00, 0x00, 0, 0, 0, 0, 0};
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, request)), 1);
    CCanObj frame;
    ASSERT_EQ(tester_->ReceiveFrame(frame, kResponseId, 5000), 1);
    EXPECT_EQ(frame.data[0], 0x10);
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, oneFrame)), 1);
    ASSERT_EQ(tester_->ReceiveFrame(frame, kResponseId, 5000), 1);
    EXPECT_EQ(frame.data[0], 0x21);
    EXPECT_EQ(tester_->ReceiveFrame(frame, kResponseId, 100), 0);  // one frame per block
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, wait)), 1);
    EXPECT_EQ(tester_->ReceiveFrame(frame, kResponseId, 100), 0);
    ASSERT_EQ(tester_->TransmitFrame(CCanObj(kRequestId, 8, oneFrame)), 1);
    ASSERT_EQ(tester_->ReceiveFrame(frame, kResponseId, 5000), 1);
    EXPECT_EQ(Bytes(frame.data, frame.data + 8), (Bytes{0x22, 'N', '1', '2', '3', '4', '5', '6'}));
}

TEST(UdsVirtualEcuHubTest, ServesOverTheHub) {
    char pattern[] = "/tmp/diagbridge-uds-hub-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/bus";
    CanHub hub;
    std::string error;
    ASSERT_TRUE(hub.Start(path, error)) << error;
    {
        UdsVirtualEcu ecu(DefaultUdsEcuProfile());
        ASSERT_TRUE(ecu.Start("hub:" + path, error)) << error;
        CIsoTp tester(xl::LoadXlSource("hub:" + path, error));
        ASSERT_EQ(tester.Open(500, 0x03, 0xF1, CIsoTp::kKeepAliveNone), 1);
        const uint8_t request[] = {0x22, 0xF1, 0x90};
        uint8_t response[64];
        int32_t length = 0;
        EXPECT_EQ(tester.Transfer(request, 3, response, sizeof(response), &length), 20);
        EXPECT_EQ(Bytes(response, response + 3), (Bytes{0x62, 0xF1, 0x90}));
    }
    hub.Stop();
    rmdir(pattern);
}

TEST(UdsVirtualEcuStartTest, AnUnknownBusIsReported) {
    UdsVirtualEcu ecu(DefaultUdsEcuProfile());
    std::string error;
    EXPECT_FALSE(ecu.Start("nonsense:bus", error));
    EXPECT_EQ(error, "Load Error: nonsense:bus");
}

}  // namespace
}  // namespace diagbridge::sim
