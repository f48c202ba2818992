#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace diagbridge::platform {

// A stop request that a waiting service can see at once: set by the client's thread when a
// service ran past its time-out, checked by the worker before every exchange and inside waits.
class CancelFlag {
  public:
    void Set();
    void Reset();
    bool IsSet() const { return set_.load(std::memory_order_acquire); }
    // Blocks for at most ms milliseconds of real time; true as soon as the flag is set.
    bool WaitFor(uint32_t ms);

  private:
    std::atomic<bool> set_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
};

// The one time base of the component: a millisecond tick that wraps at 2^32.
class IClock {
  public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary origin; compare ticks by unsigned difference.
    virtual uint32_t TickMs() = 0;
    // Sleeps ms milliseconds; returns false at once when cancel (may be null) is set.
    virtual bool SleepMs(uint32_t ms, CancelFlag* cancel) = 0;
    // Holds the thread until the tick has passed its value at entry plus ms; for the few
    // protocol gaps that must be timed to the millisecond.
    virtual void BusyWaitMs(uint32_t ms) = 0;
};

// steady_clock based production clock.
class SteadyClock final : public IClock {
  public:
    uint32_t TickMs() override;
    bool SleepMs(uint32_t ms, CancelFlag* cancel) override;
    void BusyWaitMs(uint32_t ms) override;
};

// Test clock: time moves only by Advance or by the sleeps and waits of the code under test,
// which return at once, so that protocol pauses of seconds cost no wall time.
class ManualClock final : public IClock {
  public:
    explicit ManualClock(uint32_t startMs = 0) : now_(startMs) {}
    uint32_t TickMs() override { return now_.load(); }
    bool SleepMs(uint32_t ms, CancelFlag* cancel) override;
    void BusyWaitMs(uint32_t ms) override { Advance(ms); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }

  private:
    std::atomic<uint32_t> now_;
};

// The process-wide clock (a SteadyClock unless a test installed another).
IClock& Clock();

// Installs clock for the lifetime of this object; restores the previous one afterwards.
class ScopedClock {
  public:
    explicit ScopedClock(IClock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    IClock* previous_;
};

// Milliseconds from start to now, correct across the 2^32 wrap.
inline uint32_t ElapsedMs(uint32_t startTick, uint32_t nowTick) {
    return nowTick - startTick;
}

}  // namespace diagbridge::platform
