#pragma once
// A scripted serial line for the T40 and Kalidor targets: scripted ports (without the
// recording: the boot-loader polls write thousands of times) and a manual clock whose sleeps
// do not yield, as these targets run no other thread and a yield on a loaded machine costs
// milliseconds.
#include <memory>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "tests/t40kalidor/ScriptedLine.h"

namespace diagbridge::fuzz {

class NoYieldClock final : public platform::IClock {
  public:
    explicit NoYieldClock(platform::ManualClock& clock) : clock_(clock) {}
    uint32_t TickMs() override { return clock_.TickMs(); }
    bool SleepMs(uint32_t ms, platform::CancelFlag* cancel) override {
        if (cancel != nullptr && cancel->IsSet()) return false;
        clock_.Advance(ms);
        return true;
    }
    void BusyWaitMs(uint32_t ms) override { clock_.Advance(ms); }

  private:
    platform::ManualClock& clock_;
};

struct SerialLine {
    platform::ManualClock clock{1000};
    NoYieldClock noYield{clock};
    testfakes::ScriptedLine line;
    platform::ScopedClock scopedClock{noYield};
    platform::ScopedSerialPortFactory factory{
        [this] { return std::make_unique<testfakes::ScriptedPort>(line); }};
    SerialLine() { line.clock = &clock; }
};

}  // namespace diagbridge::fuzz
