#include "simulation/lock_statistics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qxr::simulation {
namespace {

TEST(LockStatisticsTest, LockStartsAfterTheLastExcursion) {
    LockStatistics stats(10.0);
    stats.Add(0, 2000, 0, 0, 156250);
    stats.Add(10, 5, 1000, 10, 156250);    // inside, but not for good
    stats.Add(20, -12, 2000, 20, 156250);  // excursion
    stats.Add(30, 3, 10000000, 100, 156250);
    stats.Add(40, -4, 10000000 + 64 * 156234, 164, 156250);
    const LockSummary s = stats.Summarize();
    ASSERT_TRUE(s.locked);
    EXPECT_DOUBLE_EQ(s.lockTimeS, 30);
    EXPECT_DOUBLE_EQ(s.maxAbsMs, 4);
    EXPECT_DOUBLE_EQ(s.rmsMs, std::sqrt((9.0 + 16.0) / 2));
    EXPECT_NEAR(s.learnedPpm, 16.0 / 156250 * 1e6, 1e-9);
    EXPECT_EQ(s.samplesAfterLock, 2u);
}

TEST(LockStatisticsTest, EndingOutsideTheBoundIsNotALock) {
    LockStatistics stats(10.0);
    stats.Add(0, 1, 0, 0, 156250);
    stats.Add(10, 11, 0, 0, 156250);
    EXPECT_FALSE(stats.Summarize().locked);
}

}  // namespace
}  // namespace qxr::simulation
