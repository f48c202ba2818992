#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace diagbridge::platform {
namespace {

TEST(ClockTest, ElapsedIsCorrectAcrossTheWrap) {
    EXPECT_EQ(ElapsedMs(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(ElapsedMs(100u, 100u), 0u);
}

TEST(ClockTest, ManualClockMovesOnlyBySleepsAndAdvance) {
    ManualClock clock(5);
    EXPECT_EQ(clock.TickMs(), 5u);
    EXPECT_TRUE(clock.SleepMs(30000, nullptr));
    clock.BusyWaitMs(5);
    clock.Advance(10);
    EXPECT_EQ(clock.TickMs(), 30020u);
}

TEST(ClockTest, CancelledSleepReturnsFalse) {
    CancelFlag cancel;
    cancel.Set();
    ManualClock manual;
    EXPECT_FALSE(manual.SleepMs(1000, &cancel));
    EXPECT_EQ(manual.TickMs(), 0u);
    SteadyClock steady;
    EXPECT_FALSE(steady.SleepMs(60000, &cancel));
}

TEST(ClockTest, CancelWakesASleeperOnAnotherThread) {
    CancelFlag cancel;
    SteadyClock steady;
    bool completed = true;
    std::thread sleeper([&] { completed = steady.SleepMs(600000, &cancel); });
    cancel.Set();
    sleeper.join();
    EXPECT_FALSE(completed);
}

TEST(ClockTest, ScopedClockInstallsAndRestores) {
    IClock* before = &Clock();
    {
        ManualClock manual(42);
        ScopedClock scoped(manual);
        EXPECT_EQ(Clock().TickMs(), 42u);
    }
    EXPECT_EQ(&Clock(), before);
}

}  // namespace
}  // namespace diagbridge::platform
