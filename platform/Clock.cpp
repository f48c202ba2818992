#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace diagbridge::platform {

void CancelFlag::Set() {
    {
        std::lock_guard lock(mutex_);
        set_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
}

void CancelFlag::Reset() {
    std::lock_guard lock(mutex_);
    set_.store(false, std::memory_order_release);
}

bool CancelFlag::WaitFor(uint32_t ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return IsSet(); });
}

uint32_t SteadyClock::TickMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool SteadyClock::SleepMs(uint32_t ms, CancelFlag* cancel) {
    if (cancel == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    return !cancel->WaitFor(ms);
}

void SteadyClock::BusyWaitMs(uint32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

bool ManualClock::SleepMs(uint32_t ms, CancelFlag* cancel) {
    if (cancel != nullptr && cancel->IsSet()) return false;
    Advance(ms);
    // Let other threads that poll this clock see the new time.
    std::this_thread::yield();
    return true;
}

namespace {
SteadyClock& ProductionClock() {
    static SteadyClock clock;
    return clock;
}
std::atomic<IClock*>& CurrentClock() {
    static std::atomic<IClock*> current{&ProductionClock()};
    return current;
}
}  // namespace

IClock& Clock() {
    return *CurrentClock().load();
}

ScopedClock::ScopedClock(IClock& clock) : previous_(CurrentClock().exchange(&clock)) {}

ScopedClock::~ScopedClock() {
    CurrentClock().store(previous_);
}

}  // namespace diagbridge::platform
