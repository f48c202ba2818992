#pragma once
// A clock for sessions against the virtual controllers on a pseudo-terminal: protocol time
// runs ten times faster than real time, so the T40 wake-up wait (2100 ms) and the boot-loader
// polls keep their order against the line's real time-outs and the controller's real delays
// while costing a tenth of the wall time.
#include <chrono>
#include <thread>

#include "platform/Clock.h"

namespace diagbridge::testing {

class ScaledClock final : public platform::IClock {
  public:
    static constexpr uint32_t kFactor = 10;

    uint32_t TickMs() override {
        const auto elapsed = std::chrono::steady_clock::now() - origin_;
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * kFactor);
    }
    bool SleepMs(uint32_t ms, platform::CancelFlag* cancel) override {
        if (cancel != nullptr) return !cancel->WaitFor(ms / kFactor);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / kFactor));
        return true;
    }
    void BusyWaitMs(uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / kFactor));
    }

  private:
    const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

}  // namespace diagbridge::testing
