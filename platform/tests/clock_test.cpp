#include "platform/clock.h"

#include <gtest/gtest.h>

using platform::VirtualClock;

TEST(VirtualClock, MovesOnlyBySleepOrAdvance) {
    VirtualClock clock(1000);
    EXPECT_EQ(clock.nowMs(), 1000u);
    clock.sleepMs(300);
    clock.advance(50);
    EXPECT_EQ(clock.nowMs(), 1350u);
    EXPECT_EQ(clock.sleptMs(), 300u);
}

TEST(VirtualClock, WrapsLikeTheTickCount) {
    VirtualClock clock(0xFFFFFF00u);
    clock.sleepMs(0x200);
    EXPECT_EQ(clock.nowMs(), 0x100u);
}

TEST(SystemClock, SleepAdvancesTime) {
    platform::Clock& clock = platform::systemClock();
    std::uint32_t start = clock.nowMs();
    clock.sleepMs(20);
    // Elapsed time in wrap-around arithmetic; tick resolution can be ~16 ms on Windows.
    EXPECT_GE(static_cast<std::uint32_t>(clock.nowMs() - start), 4u);
}
