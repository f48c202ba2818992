// The T60 device with the real serial layer on a pseudo-terminal, against the virtual
// K-line ECU running in its own thread.
#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ScopedComPort.h"
#include "devices/CT60.h"
#include "platform/Clock.h"
#include "platform/SerialRecorder.h"
#include "sim/kline/KlineBasicResponder.h"
#include "sim/kline/KlineEcuLine.h"

namespace diagbridge {
namespace {

using Bytes = std::vector<uint8_t>;

// Answers 21 with a long record (length byte on the line); the basic answers otherwise.
class RecordResponder final : public sim::IKlineResponder {
  public:
    static constexpr size_t kRecordLength = 120;
    bool Respond(const Bytes& request, Bytes& response) override {
        if (request.at(0) != 0x21) return basic_.Respond(request, response);
        response.assign(kRecordLength, 0);
        response[0] = 0x61;
        for (size_t i = 1; i < response.size(); ++i) response[i] = static_cast<uint8_t>(i);
        return true;
    }

  private:
    sim::KlineBasicResponder basic_;
};

class CT60WireTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        sim::KlineLineOptions options;
        options.wired = Wired();
        line_.emplace(responder_, options);
        ASSERT_TRUE(line_->Start());
        redirect_.emplace(kPort, line_->DevicePath());
    }
    void TearDown() override { line_->Stop(); }
    bool Wired() const { return GetParam(); }
    void OpenAndConnect(int32_t timeoutMs = kTimeoutMs) {
        ASSERT_EQ(device_.Open(kPort, 0, 10400, timeoutMs, Wired() ? 0 : 1), CD5Device::kOk);
        ASSERT_EQ(device_.Connect(), 1);
    }
    Bytes Send(const Bytes& request) {
        std::array<uint8_t, kResponseCapacity> response{};
        const int32_t count =
            device_.SendCommand(request.data(), static_cast<uint32_t>(request.size()),
                                response.data(), kResponseCapacity);
        return Bytes(response.begin(), response.begin() + count);
    }

    static constexpr uint8_t kPort = 7;
    static constexpr uint32_t kResponseCapacity = 300;  // the container's buffer
    // SkyLink doubles it.
    static constexpr int32_t kTimeoutMs = 1000;
    // For the tests that wait through silence; still far above the line's 25 ms answer.
    static constexpr int32_t kShortTimeoutMs = 500;
    RecordResponder responder_;
    std::optional<sim::KlineEcuLine> line_;
    std::optional<testfakes::ScopedComPort> redirect_;
    CT60 device_{0, 0, 0};
};

std::string AdapterName(const ::testing::TestParamInfo<bool>& adapter) {
    return adapter.param ? "Wired" : "SkyLink";
}

INSTANTIATE_TEST_SUITE_P(Adapters, CT60WireTest, ::testing::Bool(), AdapterName);

TEST_P(CT60WireTest, ConnectsAndExchanges) {
    OpenAndConnect();
    EXPECT_TRUE(line_->SessionStarted());
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
    EXPECT_EQ(Send({0x1A, 0x93}), (Bytes{0x7F, 0x1A, 0x11}));
    const Bytes record = Send({0x21, 0x01});
    ASSERT_EQ(record.size(), RecordResponder::kRecordLength);
    EXPECT_EQ(record[0], 0x61);
    EXPECT_EQ(record.back(), RecordResponder::kRecordLength - 1);
    EXPECT_EQ(device_.GetErrorCount(), 0);
}

TEST_P(CT60WireTest, OneLostAnswerIsMadeUpByTheRetry) {
    OpenAndConnect();
    line_->InjectFaults({.silentRequests = 1});
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
    EXPECT_EQ(device_.GetErrorCount(), 1);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kOk);
}

TEST_P(CT60WireTest, SilentEcuGivesNoAnswerAfterTwoAttempts) {
    OpenAndConnect(kShortTimeoutMs);
    line_->InjectFaults({.silentRequests = 2});
    EXPECT_TRUE(Send({0x3E}).empty());
    EXPECT_EQ(device_.GetLastError(), CD5Device::kNoAnswer);
    EXPECT_EQ(device_.GetErrorCount(), 2);
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));  // the line is usable again
}

TEST_P(CT60WireTest, WrongChecksumIsReported) {
    OpenAndConnect();
    line_->InjectFaults({.badChecksumResponses = 1});
    EXPECT_TRUE(Send({0x3E}).empty());
    EXPECT_EQ(device_.GetLastError(), CD5Device::kBadChecksum);
    EXPECT_EQ(line_->FramesReceived(), 2u);  // StartCommunication and one request
}

TEST_P(CT60WireTest, LateAnswerWithinTheTimeOutIsTaken) {
    OpenAndConnect();
    line_->SetResponseDelay(300);
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
    EXPECT_EQ(device_.GetErrorCount(), 0);
}

TEST_P(CT60WireTest, StartAnswerAfterABreakByteIsAccepted) {
    ASSERT_EQ(device_.Open(kPort, 0, 10400, kTimeoutMs, Wired() ? 0 : 1), CD5Device::kOk);
    line_->InjectFaults({.leadingZeroBytes = 1});
    ASSERT_EQ(device_.Connect(), 1);
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
}

TEST_P(CT60WireTest, OtherEcuAddressIsNotAnswered) {
    ASSERT_EQ(device_.Open(kPort, 0, 10400, kShortTimeoutMs, Wired() ? 0 : 1), CD5Device::kOk);
    device_.SetAddresses(0xFA, 0x20);
    EXPECT_EQ(device_.Connect(), 0);
    device_.SetAddresses(0xF1, 0x18);
    EXPECT_EQ(device_.Connect(), 1);
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
}

TEST_P(CT60WireTest, PortCanBeOpenedAgain) {
    OpenAndConnect();
    EXPECT_EQ(device_.Close(), 0);
    OpenAndConnect();
    EXPECT_EQ(Send({0x3E}), (Bytes{0x7E}));
}

// A SkyLink line has no break: the pulse is checked on the wired line only.
class CT60WiredWireTest : public CT60WireTest {};
INSTANTIATE_TEST_SUITE_P(Adapters, CT60WiredWireTest, ::testing::Values(true), AdapterName);

TEST_P(CT60WiredWireTest, WakeUpPulseOnTheRealClock) {
    platform::SerialLog log;
    platform::ScopedSerialPortFactory recording([&log] {
        return std::make_unique<platform::RecordingSerialPort>(platform::CreateOsSerialPort(), log);
    });
    OpenAndConnect();
    device_.Close();  // the recorded port must not outlive the log
    uint32_t low = 0;
    uint32_t released = 0;
    uint32_t written = 0;
    for (const auto& event : log.Events()) {
        using K = platform::SerialEvent::Kind;
        if (event.kind == K::BreakOn) low = event.tickMs;
        if (event.kind == K::BreakOff && low != 0 && released == 0) released = event.tickMs;
        if (event.kind == K::Write && written == 0) written = event.tickMs;
    }
    ASSERT_NE(low, 0u);
    // Busy waits never end early; a loaded machine may only make them longer.
    EXPECT_GE(released - low, 25u);
    EXPECT_GE(written - released, 24u);
    EXPECT_LT(written - low, 1000u);
}

}  // namespace
}  // namespace diagbridge
