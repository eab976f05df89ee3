#include "tests/ntp_load/load_figures.h"

#include <gtest/gtest.h>

namespace qxr::ntpload {
namespace {

TEST(LoadFigures, QuantileIsTheNearestRank) {
    struct Row {
        std::vector<int64_t> values;
        double q;
        double expected;
    };
    const Row rows[] = {
        {{}, 0.5, 0},
        {{7}, 0.99, 7},
        {{4, 1, 3, 2}, 0.5, 2},  // the lower middle: half the values at or below
        {{5, 1, 4, 2, 3}, 0.5, 3},
        {{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 0.99, 100},
        {{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 0.9, 90},
        {{3, 1, 2}, 0, 1},
    };
    for (const Row& r : rows) {
        std::vector<int64_t> v = r.values;
        EXPECT_EQ(Quantile(&v, r.q), r.expected) << "q " << r.q << " of " << r.values.size();
    }
}

TEST(LoadFigures, StepLossAndLatencies) {
    const StepFigures f = SummarizeStep(1000, 200, {3000, 1000, 2000, 5000});
    EXPECT_EQ(f.answered, 4);
    EXPECT_DOUBLE_EQ(f.loss_pct, 98.0);
    EXPECT_DOUBLE_EQ(f.median_us, 2.0);
    EXPECT_DOUBLE_EQ(f.p99_us, 5.0);
    EXPECT_DOUBLE_EQ(SummarizeStep(1000, 0, {}).loss_pct, 100.0);
}

TEST(LoadFigures, HighestRateUnderTheLossLimit) {
    struct Row {
        std::vector<StepFigures> steps;
        int expected;
    };
    auto step = [](int rate, int64_t sent, int64_t answered) {
        return SummarizeStep(rate, sent, std::vector<int64_t>(static_cast<size_t>(answered), 1));
    };
    const Row rows[] = {
        {{}, 0},
        {{step(1000, 1000, 1000), step(2000, 2000, 1990), step(5000, 5000, 4000)}, 2000},
        {{step(1000, 1000, 990)}, 0},  // exactly 1 % lost is not under 1 %
        {{step(1000, 1000, 1000), step(2000, 2000, 1500), step(5000, 5000, 5000)}, 5000},
        {{step(1000, 0, 0)}, 0},  // nothing sent proves nothing
    };
    for (const Row& r : rows) EXPECT_EQ(HighestCleanRate(r.steps, 1.0), r.expected);
}

}  // namespace
}  // namespace qxr::ntpload
