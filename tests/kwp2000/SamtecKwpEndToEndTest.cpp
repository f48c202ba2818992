// KWP2000 on the Samtec adapter path: the SamDiaX substitute on the virtual controller's
// pseudo-terminal, and on a scripted line that takes the times of every byte.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "component/CCommandInterface.h"
#include "drivers/samtec/SamDiaXSubstitute.h"
#include "platform/Clock.h"
#include "sim/kline/KlineDemoEcu.h"
#include "sim/kline/PseudoTerminal.h"

namespace diagbridge {
namespace {

using samdiax::AsInt;
using samdiax::AsObject;
using samdiax::AsText;
namespace member = samdiax::member;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// On the real clock: the virtual controller answers in real time, and a manual clock's
// waits would run out at once while a loaded machine has not yet scheduled its thread.
TEST(SamtecKwpEndToEndTest, SessionWithAT60) {
    sim::KlineDemoOptions demo;
    demo.responseDelayMs = 2;
    auto ecu = sim::KlineDemoEcu::Start(demo);
    ASSERT_NE(ecu, nullptr);
    setenv("DIAGBRIDGE_SAMTEC_KLINE", ecu->DevicePath().c_str(), 1);
    CCommandInterface component;
    int32_t communication = -1;
    int32_t ecuId = -1;
    ASSERT_EQ(component.DbrCreateCommunicationObject("KWP2000|SAMTECUSB=1", &communication), 0);
    ASSERT_GE(communication, 0);
    ASSERT_EQ(component.DbrCreateEcuObject("T60", communication, &ecuId), 0);
    int32_t result = 1;
    component.DbrConnect(ecuId, &result);
    ASSERT_EQ(result, 0);
    EXPECT_TRUE(ecu->Line().SessionStarted());
    std::string ident;
    component.DbrGetIdent(ecuId, &ident, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(ident, "SERIALNUMBER=SN600117|")) << ident;
    component.DbrSetDiagnosticAccess(ecuId, 0, 0x86, 19200, -1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ecu->Responder().UnlockedLevel(), 0xFD);
    std::string response;
    component.DbrSingleRequest(ecuId, "1A 95", &response, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(response.rfind("5A 95", 0), 0u) << response;

    ecu->Stop();  // the line goes silent
    component.DbrSingleRequest(ecuId, "1A 95", &response, &result);
    EXPECT_LT(result, 0);
    component.DbrDeleteCommunicationObject(communication, &result);
    unsetenv("DIAGBRIDGE_SAMTEC_KLINE");
}

// A line that answers every frame after 2 ms with a positive response and notes when each
// byte came.
class TimedLine {
  public:
    TimedLine() {
        EXPECT_TRUE(terminal_.Open());
        thread_ = std::thread([this] { Run(); });
    }
    ~TimedLine() {
        stop_ = true;
        thread_.join();
    }
    const std::string& Path() const { return terminal_.SlavePath(); }
    struct Byte {
        uint8_t value;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Byte> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::chrono::steady_clock::time_point LastAnswerEnd() {
        std::lock_guard lock(mutex_);
        return answerEnd_;
    }

  private:
    void Run() {
        std::vector<uint8_t> frame;
        while (!stop_) {
            pollfd in = {terminal_.MasterFd(), POLLIN, 0};
            if (poll(&in, 1, 20) <= 0) continue;
            uint8_t byte = 0;
            if (read(terminal_.MasterFd(), &byte, 1) != 1) continue;
            {
                std::lock_guard lock(mutex_);
                received_.push_back({byte, std::chrono::steady_clock::now()});
            }
            frame.push_back(byte);
            const size_t length = frame[0] & 0x3F;
            if (frame.size() < 3 + length + 1) continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            Answer(frame);
            frame.clear();
        }
    }
    void Answer(const std::vector<uint8_t>& request) {
        const uint8_t service = request[3] == 0x81 ? 0xC1 : uint8_t(request[3] + 0x40);
        std::vector<uint8_t> answer = {0x81, request[2], request[1], service};
        uint8_t sum = 0;
        for (uint8_t b : answer) sum = uint8_t(sum + b);
        answer.push_back(sum);
        [[maybe_unused]] const ssize_t written =
            write(terminal_.MasterFd(), answer.data(), answer.size());
        std::lock_guard lock(mutex_);
        answerEnd_ = std::chrono::steady_clock::now();
    }

    sim::PseudoTerminal terminal_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Byte> received_;
    std::chrono::steady_clock::time_point answerEnd_{};
    std::thread thread_;
};

// The adapter keeps P3min between an answer and the next request and P4min between the bytes
// of a request, as the container's timing parameters say; the addresses come from settings
// 5 and 38.
TEST(SamtecKwpEndToEndTest, TimingParametersReachTheLine) {
    TimedLine line;
    auto adapter = std::make_shared<samtec::SamDiaXSubstitute>("", line.Path());
    adapter->Put(member::kMode, 0, {});
    adapter->SetParameter(20102, "120");  // P3min
    adapter->SetParameter(20103, "15");   // P4min
    adapter->SetParameter(20001, "500");  // P2max
    adapter->Put(member::kSetting, std::string("24"), {5});
    adapter->Put(member::kSetting, std::string("250"), {38});
    ASSERT_EQ(AsInt(adapter->Call(member::kStartCommunication, {})), 1);
    const auto afterStart = line.LastAnswerEnd();
    const size_t startBytes = line.Received().size();
    adapter->Put(member::kRequest, std::string("1A 95"), {});
    ASSERT_EQ(AsInt(adapter->Call(member::kTransfer, {})), 1);
    EXPECT_EQ(AsText(adapter->Get(member::kResponse, {})), "5A");

    const std::vector<TimedLine::Byte> bytes = line.Received();
    ASSERT_EQ(bytes.size(), startBytes + 6);
    const std::vector<uint8_t> expected = {0x82, 24, 250, 0x1A, 0x95};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(bytes[startBytes + i].value, expected[i]);
    // Each byte is seen no earlier than it was sent: the request starts P3min after the answer
    // ended, and its last byte follows the first by four P4min gaps.
    using std::chrono::milliseconds;
    EXPECT_GE(bytes[startBytes].at - afterStart, milliseconds(120));
    EXPECT_GE(bytes.back().at - afterStart, milliseconds(120 + 4 * 15));
    adapter->Call(member::kStopCommunication, {});
}

TEST(SamtecKwpEndToEndTest, WithoutItsDeviceTheAdapterIsNotFound) {
    auto adapter = std::make_shared<samtec::SamDiaXSubstitute>("", "/nonexistent/tty");
    adapter->Put(member::kMode, 0, {});
    auto detection = AsObject(adapter->Get(member::kDetection, {}));
    ASSERT_NE(detection, nullptr);
    detection->Call(member::kStartDetection, {});
    EXPECT_EQ(AsInt(AsObject(detection->Get(member::kFound, {}))->Get(member::kFoundCount, {})), 0);
    EXPECT_EQ(AsInt(adapter->Call(member::kStartCommunication, {})), 0);
    EXPECT_EQ(AsText(adapter->Get(member::kErrorMessage, {})), "Transport lost");
}

}  // namespace
}  // namespace diagbridge
