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
    auto step = [](int rate, int64_t sent, int64_t answered, int64_t skipped = 0) {
        return SummarizeStep(rate, sent, std::vector<int64_t>(static_cast<size_t>(answered), 1),
                             skipped);
    };
    const Row rows[] = {
        {{}, 0},
        {{step(1000, 1000, 1000), step(2000, 2000, 1990), step(5000, 5000, 4000)}, 2000},
        {{step(1000, 1000, 990)}, 0},  // exactly 1 % lost is not under 1 %
        {{step(1000, 1000, 1000), step(2000, 2000, 1500), step(5000, 5000, 5000)}, 5000},
        {{step(1000, 0, 0)}, 0},  // nothing sent proves nothing
        // The generator skipped 5 % of its requests: that rate was not really offered.
        {{step(1000, 1000, 1000), step(2000, 1900, 1900, 100)}, 1000},
        {{step(1000, 1000, 1000), step(2000, 1901, 1901, 99)}, 2000},
    };
    for (const Row& r : rows) EXPECT_EQ(HighestCleanRate(r.steps, 1.0, 5.0), r.expected);
}

TEST(LoadFigures, RefiningHalvesTheGapAboveTheHighestCleanRate) {
    struct Row {
        std::vector<StepFigures> steps;
        int expected;
    };
    auto step = [](int rate, double loss_pct) {
        const auto answered = static_cast<size_t>(1000 - loss_pct * 10);
        return SummarizeStep(rate, 1000, std::vector<int64_t>(answered, 1));
    };
    auto not_offered = [](int rate) {  // no loss, but a tenth skipped by the generator
        return SummarizeStep(rate, 900, std::vector<int64_t>(900, 1), 100);
    };
    const Row rows[] = {
        {{step(1000, 0), step(2000, 0), step(4000, 30)}, 3000},
        {{step(1000, 0), step(4000, 30), step(3000, 5)}, 2000},  // the lowest lossy above
        {{step(1000, 0), step(4000, 30), step(3000, 5), step(2000, 0)}, 2500},
        {{step(1000, 0), step(2000, 0)}, 0},        // nothing lossy: no gap
        {{step(1000, 50)}, 0},                      // nothing clean
        {{step(10000, 0), step(10200, 3)}, 0},      // 2 % apart: fine enough
        {{step(10000, 0), step(10400, 3)}, 10200},  // 4 % apart: halved
        {{step(1000, 0), step(5000, 2), step(9000, 0), step(12000, 40)}, 10500},  // noise below
        {{step(1000, 0), not_offered(2000), step(4000, 30)}, 1500},  // not offered: a bound
        {{step(1000, 0), not_offered(1500), step(4000, 30)}, 1250},
    };
    for (const Row& r : rows) EXPECT_EQ(NextRefineRate(r.steps, 1.0, 5.0, 3.0), r.expected);
}

TEST(LoadFigures, PacingNeverBurstsAfterAStall) {
    struct Row {
        int64_t elapsed_ns;
        int rate;
        int64_t next;
        int64_t total;
        int64_t skip;
        int64_t send;
    };
    constexpr int64_t kMs = 1000000;
    // 20,000/s: a request every 50 us; late by more than 10 ms: skipped; at most 40 at once.
    const Row rows[] = {
        {0, 20000, 0, 40000, 0, 1},             // the first request goes at the start
        {kMs, 20000, 1, 40000, 0, 20},          // on time: the 20 due in 1 ms
        {10 * kMs, 20000, 1, 40000, 0, 40},     // a 10 ms stall: 40 now, not 200
        {11 * kMs, 20000, 41, 40000, 0, 40},    // the rest spread over the next sends
        {30 * kMs, 20000, 41, 40000, 359, 40},  // 20 ms behind: the oldest skipped
        {10 * kMs, 20000, 201, 40000, 0, 0},    // nothing new due
        {12 * kMs, 1000, 1, 2000, 1, 11},       // 10 ms late exactly is still sent
        {2000 * kMs, 1000, 1985, 2000, 5, 10},  // the end: never beyond the total
        {-1, 1000, 0, 2000, 0, 0},
    };
    for (const Row& r : rows) {
        const PaceDecision d = Pace(r.elapsed_ns, 1e9 / r.rate, r.next, r.total, 10 * kMs, 40);
        EXPECT_EQ(d.skip, r.skip) << "at " << r.elapsed_ns << " ns, " << r.rate << "/s";
        EXPECT_EQ(d.send, r.send) << "at " << r.elapsed_ns << " ns, " << r.rate << "/s";
    }
}

TEST(LoadFigures, UdpReceiveBufferErrorsFromSnmp) {
    const std::string snmp =
        "Tcp: RtoAlgorithm RtoMin\nTcp: 1 200\n"
        "Udp: InDatagrams NoPorts InErrors OutDatagrams RcvbufErrors SndbufErrors\n"
        "Udp: 38 0 5 39 1234 0\n"
        "UdpLite: InDatagrams NoPorts InErrors OutDatagrams RcvbufErrors SndbufErrors\n"
        "UdpLite: 0 0 0 0 7 0\n";
    int64_t errors = -1;
    ASSERT_TRUE(ParseUdpRcvbufErrors(snmp, &errors));
    EXPECT_EQ(errors, 1234);
    EXPECT_FALSE(ParseUdpRcvbufErrors("Udp: InDatagrams NoPorts\nUdp: 1 2\n", &errors));
    EXPECT_FALSE(ParseUdpRcvbufErrors("Udp: RcvbufErrors\nUdp: x\n", &errors));
    EXPECT_FALSE(ParseUdpRcvbufErrors("", &errors));
}

}  // namespace
}  // namespace qxr::ntpload
