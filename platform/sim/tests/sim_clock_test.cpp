#include "platform/sim/sim_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qxr::sim {
namespace {

TEST(SimClockTest, ReadReturnsTimeAsOfLastInterrupt) {
    SimClock clock;
    const int64_t start = clock.SystemTime();
    clock.Advance(156249);
    EXPECT_EQ(clock.SystemTime(), start);  // no interrupt yet
    clock.Advance(1);
    EXPECT_EQ(clock.SystemTime(), start + 156250);
    clock.Advance(10 * 156250 + 5);
    EXPECT_EQ(clock.SystemTime(), start + 11 * 156250);
}

TEST(SimClockTest, AdjustmentAppliesPerInterruptAndDisabledFlagMeansNominal) {
    SimClock clock;
    DWORD adj = 0, inc = 0;
    BOOL disabled = FALSE;
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(&adj, &inc, &disabled));
    EXPECT_EQ(adj, 156250u);
    EXPECT_EQ(inc, 156250u);
    EXPECT_TRUE(disabled);
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(156000, FALSE));
    const int64_t start = clock.SystemTime();
    clock.Advance(100 * 156250);
    EXPECT_EQ(clock.SystemTime(), start + 100 * 156000);
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(0, TRUE));
    clock.Advance(100 * 156250);
    EXPECT_EQ(clock.SystemTime(), start + 100 * 156000 + 100 * 156250);
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(&adj, &inc, &disabled));
    EXPECT_EQ(adj, inc);
    EXPECT_TRUE(disabled);
}

TEST(SimClockTest, DriftMakesTheClockGainAgainstTrueTime) {
    SimClockConfig config;
    config.driftPpb = 100000;  // +100 ppm
    config.timeIncrement = 100144;
    SimClock clock(config);
    const int64_t start = clock.SystemTime();
    clock.Advance(3600LL * 10000000);  // one true hour
    const int64_t gained = clock.SystemTime() - start - 3600LL * 10000000;
    // 360 ms gained, within one tick of quantization.
    EXPECT_NEAR(static_cast<double>(gained), 3600000.0, 100144.0);
}

TEST(SimClockTest, AWanderingCrystalDrivesTheInterruptAndTheCounterAlike) {
    SimClockConfig config;
    config.wanderPpmPerHour = 2;
    config.counterFrequency = 10000000;
    SimClock clock(config), same(config);
    config.wanderSeed = 2;
    SimClock other(config);
    const int64_t start = clock.TrueTime();
    const int64_t counterStart = clock.CounterAt(start);
    for (int s = 0; s < 6 * 3600; ++s) {
        clock.Advance(10000000);
        same.Advance(10000000);
        other.Advance(10000000);
    }
    const int64_t now = clock.TrueTime();
    const int64_t counted = clock.CounterAt(now) - counterStart;  // 100-ns units at 10 MHz
    const int64_t gained = counted - (now - start);
    // Six hours of a 2 ppm-per-hour walk: milliseconds gained or lost, not nothing.
    EXPECT_GT(std::llabs(gained), 1000);
    EXPECT_LT(std::llabs(gained), 1000000);
    // The interrupt counts the same crystal: within a tick of the counter.
    EXPECT_NEAR(static_cast<double>(clock.InterruptCount() * 156250), static_cast<double>(counted),
                156250.0);
    // Seeded: the same walk for the same seed, another for another.
    EXPECT_EQ(same.CounterAt(now), clock.CounterAt(now));
    EXPECT_NE(other.CounterAt(now), clock.CounterAt(now));
    // The next interrupt falls exactly where the interrupt count steps.
    const int64_t next = clock.InterruptAtOrAfter(now + 1);
    const uint64_t before = clock.InterruptCount();
    clock.Advance(next - 1 - now);
    EXPECT_EQ(clock.InterruptCount(), before);
    clock.Advance(1);
    EXPECT_EQ(clock.InterruptCount(), before + 1);
}

TEST(SimClockTest, CounterRunsOnTrueTimeAndTickCounterWraps) {
    SimClockConfig config;
    config.counterFrequency = 10000000;
    config.uptimeMs = 0xFFFFFFFFull - 1000;  // one second before the wrap
    SimClock clock(config);
    LARGE_INTEGER before{}, after{}, freq{};
    clock.QueryPerformanceFrequency(&freq);
    EXPECT_EQ(freq.QuadPart, 10000000);
    clock.QueryPerformanceCounter(&before);
    const DWORD ticksBefore = clock.GetTickCount();
    clock.Sleep(2000);
    clock.QueryPerformanceCounter(&after);
    EXPECT_EQ(after.QuadPart - before.QuadPart, 20000000);
    EXPECT_LT(clock.GetTickCount(), ticksBefore);  // wrapped
    EXPECT_EQ(static_cast<DWORD>(clock.GetTickCount() - ticksBefore), 2000u);
}

TEST(SimClockTest, SetSystemTimeNeedsThePrivilegeWhenChecked) {
    SimClock clock;
    bool held = false;
    clock.SetPrivilegeCheck([&] { return held; });
    SYSTEMTIME st{2030, 1, 0, 2, 3, 4, 5, 678};
    EXPECT_FALSE(clock.SetSystemTime(&st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    held = true;
    ASSERT_TRUE(clock.SetSystemTime(&st));
    SYSTEMTIME now{};
    clock.GetSystemTime(&now);
    EXPECT_EQ(now.wYear, 2030);
    EXPECT_EQ(now.wSecond, 5);
    EXPECT_EQ(now.wMilliseconds, 678);
}

}  // namespace
}  // namespace qxr::sim
