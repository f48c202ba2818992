// The serial KWP2000 container on a scripted device: waiting answers, busy repeats, the
// connected state and the reopening of a lost port.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "devices/CDCOrlanComKwp2000.h"
#include "platform/Clock.h"

namespace diagbridge {
namespace {

using Bytes = std::vector<uint8_t>;

// What the scripted device saw and what it answers. An empty answer is silence; every read
// takes readMs of the clock, as a real port waits for its time-out.
struct DeviceScript {
    std::deque<Bytes> answers;  // to SendCommand and ReceiveResponse, in order
    std::vector<Bytes> sent;
    int32_t receives = 0;
    int32_t opens = 0;
    int32_t connectFailures = 0;              // Connect fails this often
    std::vector<uint32_t> interRequestTimes;  // every P3min put on the line
    bool openFails = false;
    uint32_t readMs = 1000;
    platform::ManualClock* clock = nullptr;
};

class ScriptedDevice final : public CD5Device {
  public:
    explicit ScriptedDevice(DeviceScript& script) : script_(script) {}
    int32_t Open(int32_t, int32_t, int32_t, int32_t, int32_t) override {
        ++script_.opens;
        portOpen_ = script_.openFails ? 0 : 1;
        lastError_ = script_.openFails ? kPortNotOpened : kOk;
        return lastError_;
    }
    int32_t Close() override {
        portOpen_ = 0;
        return 0;
    }
    int32_t Connect() override {
        if (portOpen_ == 0) return 0;
        if (script_.connectFailures > 0) {
            --script_.connectFailures;
            return 0;
        }
        return 1;
    }
    int32_t SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                        uint32_t capacity) override {
        script_.sent.emplace_back(data, data + count);
        return Next(response, capacity);
    }
    int32_t ReceiveResponse(uint8_t* buffer, uint32_t capacity) override {
        ++script_.receives;
        return Next(buffer, capacity);
    }
    void SetInterRequestTime(uint32_t ms) override { script_.interRequestTimes.push_back(ms); }
    std::string DescribePort(int32_t port, int32_t, int32_t) override {
        return "RS232 at Port: " + std::to_string(port);
    }

  private:
    int32_t Next(uint8_t* buffer, uint32_t capacity) {
        if (script_.answers.empty()) {
            script_.clock->Advance(script_.readMs);
            return 0;
        }
        Bytes answer = script_.answers.front();
        script_.answers.pop_front();
        if (answer.empty() || answer.size() + 1 > capacity) {
            script_.clock->Advance(script_.readMs);
            return 0;
        }
        std::copy(answer.begin(), answer.end(), buffer);
        return static_cast<int32_t>(answer.size());
    }
    DeviceScript& script_;
};

class SerialContainer : public ::testing::Test {
  protected:
    void SetUp() override {
        script_.clock = &clock_;
        InterfaceSettings settings;
        settings.rs232Port = 4;
        container_ = std::make_unique<CDCOrlanComKwp2000>(
            EcuParameterBlock{}, settings, nullptr,
            [this] { return std::make_unique<ScriptedDevice>(script_); });
        ASSERT_TRUE(container_->Create());
        ASSERT_EQ(container_->DevOpen(), 0);
        ASSERT_EQ(container_->DevConnect(), 1);
    }

    platform::ManualClock clock_;
    platform::ScopedClock scoped_{clock_};
    DeviceScript script_;
    std::unique_ptr<CDCOrlanComKwp2000> container_;
};

struct TransferCase {
    const char* name;
    std::vector<Bytes> answers;
    int32_t result;
    const char* response;  // "-" for: left as it was
    std::size_t sends;
    int32_t receives;
    bool connected;
};

class SerialTransfer : public SerialContainer,
                       public ::testing::WithParamInterface<TransferCase> {};

TEST_P(SerialTransfer, PendingAndBusyRules) {
    const TransferCase& c = GetParam();
    script_.answers.assign(c.answers.begin(), c.answers.end());
    std::string response = "-";
    EXPECT_EQ(container_->DevTransferData("  31 01 02", response), c.result);
    EXPECT_EQ(response, c.response);
    EXPECT_EQ(script_.sent.size(), c.sends);
    EXPECT_EQ(script_.receives, c.receives);
    EXPECT_EQ(container_->Connected(), c.connected ? 1 : 0);
    for (const Bytes& sent : script_.sent) EXPECT_EQ(sent, (Bytes{0x31, 0x01, 0x02}));
}

const Bytes kPending = {0x7F, 0x31, 0x78};
const Bytes kBusy = {0x7F, 0x31, 0x21};
const Bytes kFinal = {0x71, 0x01, 0x02};

std::vector<Bytes> Repeat(const Bytes& answer, std::size_t times) {
    return std::vector<Bytes>(times, answer);
}

INSTANTIATE_TEST_SUITE_P(
    Kwp2000, SerialTransfer,
    ::testing::Values(
        TransferCase{"Plain", {kFinal}, 3, "71 01 02", 1, 0, true},
        TransferCase{"PendingThenAnswer", {kPending, kPending, kFinal}, 3, "71 01 02", 1, 2, true},
        TransferCase{"PendingAfterSilence", {kPending, {}, {}, kFinal}, 3, "71 01 02", 1, 3, true},
        // Silence after a pending answer: at most P2* (5000 ms) of reads, then a failure.
        TransferCase{"PendingThenSilence", {kPending}, -1, "-", 1, 4, false},
        // A babbling ECU: the total cap ends it.
        TransferCase{"PendingForever", Repeat(kPending, 500), -1, "-", 1, 120, false},
        TransferCase{"BusyThenAnswer", {kBusy, kBusy, kFinal}, 3, "71 01 02", 3, 0, true},
        TransferCase{"BusyForever", Repeat(kBusy, 40), 3, "7F 31 21", 21, 0, true},
        TransferCase{"BusyThenPending", {kBusy, kPending, kFinal}, 3, "71 01 02", 2, 1, true},
        TransferCase{"NoAnswer", {}, -1, "-", 1, 0, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SerialContainer, PendingWaitIsBounded) {
    script_.answers.assign({kPending});
    const uint32_t start = clock_.TickMs();
    std::string response;
    EXPECT_EQ(container_->DevTransferData("31 01 02", response), -1);
    const uint32_t waited = clock_.TickMs() - start;
    EXPECT_GE(waited, CDCOrlanComKwp2000::kPendingWaitMs);
    EXPECT_LT(waited, CDCOrlanComKwp2000::kPendingWaitMs + 2000);
}

TEST_F(SerialContainer, MalformedRequestsAreNotSent) {
    std::string response = "-";
    const std::string tooLong(256 * 3, '0');
    for (const std::string& request :
         {std::string(), std::string("3E 123"), std::string("XX"), std::string("3E,01"), tooLong}) {
        EXPECT_EQ(container_->DevTransferData(request, response), -3) << request;
    }
    EXPECT_TRUE(script_.sent.empty());
    EXPECT_EQ(container_->Connected(), 1);
}

TEST_F(SerialContainer, StopCommunicationClearsConnectedWithoutAnswer) {
    EXPECT_EQ(container_->DevDisconnect(), 0);
    ASSERT_EQ(script_.sent.size(), 1u);
    EXPECT_EQ(script_.sent[0], Bytes{0x82});
    EXPECT_EQ(container_->Connected(), 0);
    EXPECT_EQ(container_->DevConnect(), 1);  // wakes the ECU again
}

// The model's P3min after each wake-up (0: the standard 55 ms), the agreed one after 83.
TEST_F(SerialContainer, TimingInForceGoesToTheLine) {
    EXPECT_EQ(script_.interRequestTimes, (std::vector<uint32_t>{55}));
    container_->DevSetTiming(5, 50, 20, 5000, 0);
    container_->DevSetTiming(5, 50, 0, 5000, 0);
    EcuParameterBlock configuration;
    configuration.kwp.p3Min = 70;
    container_->SetConfiguration(configuration);
    container_->DevDisconnect();
    ASSERT_EQ(container_->DevConnect(), 1);
    EXPECT_EQ(script_.interRequestTimes, (std::vector<uint32_t>{55, 20, 55, 70}));
}

TEST_F(SerialContainer, ConnectedContainerSendsNothing) {
    const int32_t opens = script_.opens;
    EXPECT_EQ(container_->DevConnect(), 0);
    EXPECT_TRUE(script_.sent.empty());
    EXPECT_EQ(script_.opens, opens);
}

TEST_F(SerialContainer, FailedWakeUpReopensThePort) {
    std::string response;
    EXPECT_EQ(container_->DevTransferData("21 05", response), -1);  // the port went away
    script_.connectFailures = 1;
    const int32_t opens = script_.opens;
    EXPECT_EQ(container_->DevConnect(), 1);
    EXPECT_EQ(script_.opens, opens + 1);
    script_.connectFailures = 2;
    container_->DevDisconnect();
    EXPECT_EQ(container_->DevConnect(), -1);
    EXPECT_EQ(container_->Connected(), 0);
}

TEST_F(SerialContainer, PortThatNeverOpenedIsOpenedAtConnect) {
    script_.openFails = true;
    EXPECT_EQ(container_->DevOpen(), CD5Device::kPortNotOpened);
    script_.openFails = false;
    EXPECT_EQ(container_->DevConnect(), 1);
}

TEST_F(SerialContainer, TesterPresentAndDescription) {
    script_.answers.assign({{0x7E}, {0x7F, 0x3E, 0x12}});
    EXPECT_EQ(container_->DevTesterPresent(), 0);
    EXPECT_EQ(container_->DevTesterPresent(), -1);
    EXPECT_EQ(container_->description, "ORLAN RS232 at Port 4");
    std::string text;
    EXPECT_EQ(container_->DevDescribe(text, 4, 10400, 0), "RS232 at Port: 4");
}

}  // namespace
}  // namespace diagbridge
