// Kalidor sessions through the command interface against the virtual controller on a
// pseudo-terminal, in both modes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SerialSession.h"
#include "sim/kalidor/KalidorVirtualEcu.h"

namespace diagbridge::testing {
namespace {

constexpr uint8_t kPort = 6;

// The controller's thread sees the last bytes a little after the tester wrote them: true as
// soon as awake() equals wanted, false after 2 s.
bool AwakeBecomes(const sim::KalidorVirtualEcu& ecu, bool wanted) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (ecu.Awake() != wanted) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class KalidorSession : public ::testing::Test {
  protected:
    void Start(bool freeRun, const std::string& model) {
        sim::KalidorEcuOptions options;
        options.freeRun = freeRun;
        // Well inside the 2000 ms (200 ms real on the scaled clock) a connect waits.
        options.framePeriodMs = 60;
        ecu_.emplace(options);
        ASSERT_TRUE(ecu_->Start());
        ASSERT_TRUE(
            session_.Open(kPort, ecu_->DevicePath(), "KALIDOR|RS232=6|PROGRESS=1|TRACE=1", model));
    }
    void TearDown() override {
        session_.Close();
        if (ecu_) ecu_->Stop();
    }

    std::optional<sim::KalidorVirtualEcu> ecu_;
    SerialSession session_;
};

TEST_F(KalidorSession, QuickModeWakesAndAnswersCommands) {
    Start(false, "KALIDOR_QUICK");
    ASSERT_EQ(session_.Connect(), 0);
    EXPECT_TRUE(AwakeBecomes(*ecu_, true));
    int32_t result = 1;
    EXPECT_EQ(session_.Request("02 11", result), "42 11 33");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(session_.Request("01", result), "41 4B 41 4C 31");

    sim::KalidorFaults faults;
    faults.shortAnswers = 1;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Request("01", result), "");
    EXPECT_EQ(result, -1);

    const std::string ident = session_.Ident(result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ident, "NAME=KALIDOR|PROTOCOL=KALIDOR_QUICK|DEVICE=RS232 at Port 6");
    session_.Upload(result);
    EXPECT_EQ(result, -4);  // not allowed on this model

    EXPECT_EQ(session_.Disconnect(), 0);
    EXPECT_TRUE(AwakeBecomes(*ecu_, false));
    faults = {};
    faults.silent = true;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Connect(), -1);
    ecu_->InjectFaults({});
    EXPECT_EQ(session_.Connect(), 0);
}

TEST_F(KalidorSession, FreeRunCapturesFramesAndRejectsFramesOfNoRule) {
    Start(true, "KALIDOR_FREE_RUN");
    ASSERT_EQ(session_.Connect(), 0);
    int32_t result = 1;
    const std::string frame = session_.Upload(result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(frame.size(), 21u * 3) << frame;
    EXPECT_EQ(frame.substr(0, 9), "55 79 80 ");
    EXPECT_EQ(frame.substr(frame.size() - 27), "04 30 31 32 33 34 35 36 37 ");

    sim::KalidorFaults faults;
    faults.badFrames = 1000;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Upload(result), "");  // no earlier capture is handed out as this one's
    EXPECT_EQ(result, -7);
    ecu_->InjectFaults({});
    EXPECT_EQ(session_.Upload(result).size(), 21u * 3);
    EXPECT_EQ(result, 0);
    session_.Request("01", result);
    EXPECT_EQ(result, -4);
}

TEST_F(KalidorSession, FreeRunConnectFailsWhenNoFrameComes) {
    Start(true, "KALIDOR_FREE_RUN");
    sim::KalidorFaults faults;
    faults.silent = true;
    ecu_->InjectFaults(faults);
    EXPECT_EQ(session_.Connect(), -1);
    ecu_->InjectFaults({});
    EXPECT_EQ(session_.Connect(), 0);
}

}  // namespace
}  // namespace diagbridge::testing
