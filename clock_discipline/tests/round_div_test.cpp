#include "clock_discipline/round_div.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace qxr::discipline {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Exact reference in 128 bits, held at the ends of the 64-bit range.
int64_t ReferenceMulDivRound(int64_t a, int64_t b, int64_t c) {
    const __int128 product = static_cast<__int128>(a) * b;
    const __int128 magnitude = product < 0 ? -product : product;
    __int128 q = (magnitude + c / 2) / c;
    if (product < 0) q = -q;
    if (q > kMax) return kMax;
    if (q < kMin) return kMin;
    return static_cast<int64_t>(q);
}

TEST(RoundDivTest, RoundsHalvesAwayFromZeroAndTruncatesTheRest) {
    EXPECT_EQ(RoundDiv(5, 2), 3);
    EXPECT_EQ(RoundDiv(-5, 2), -3);
    EXPECT_EQ(RoundDiv(4, 3), 1);
    EXPECT_EQ(RoundDiv(-4, 3), -1);
    EXPECT_EQ(RoundDiv(5, 3), 2);
    EXPECT_EQ(RoundDiv(-5, 3), -2);
    EXPECT_EQ(RoundDiv(0, 7), 0);
    EXPECT_EQ(RoundDiv(kMax, 1), kMax);
    EXPECT_EQ(RoundDiv(kMin, 1), kMin);
    EXPECT_EQ(RoundDiv(kMin, 2), kMin / 2);
    EXPECT_EQ(RoundDiv(kMax, kMax), 1);
}

TEST(RoundDivTest, NonPositiveDivisorGivesZeroInsteadOfFaulting) {
    EXPECT_EQ(RoundDiv(10, 0), 0);
    EXPECT_EQ(RoundDiv(10, -3), 0);
    EXPECT_EQ(MulDivRound(10, 10, 0), 0);
    EXPECT_EQ(MulDivRound(kMin, kMin, -1), 0);
}

TEST(MulDivRoundTest, MatchesExactArithmeticAcrossTheRange) {
    const int64_t values[] = {0,
                              1,
                              -1,
                              2,
                              -3,
                              99,
                              100,
                              156250,
                              -54545455,
                              99943712,
                              10000000,
                              3579545,
                              -7777777,
                              1LL << 31,
                              -(1LL << 31),
                              1LL << 40,
                              1LL << 62,
                              kMax,
                              kMin,
                              kMax - 1,
                              kMin + 1,
                              4000000007,
                              -(1LL << 62) - 12345};
    const int64_t divisors[] = {1, 2, 3, 100, 110, 10000000, 3579545, 2147483747, kMax};
    for (int64_t a : values) {
        for (int64_t b : values) {
            for (int64_t c : divisors) {
                ASSERT_EQ(MulDivRound(a, b, c), ReferenceMulDivRound(a, b, c))
                    << a << " x " << b << " / " << c;
            }
        }
    }
}

TEST(MulDivRoundTest, EqualsRoundDivOfTheProductWheneverTheProductFits) {
    EXPECT_EQ(MulDivRound(1000000000, 100, 100), 1000000000);
    EXPECT_EQ(MulDivRound(600000000, 10, 110), 54545455);  // 54,545,454.5 rounds up
    EXPECT_EQ(MulDivRound(-600000000, 10, 110), -54545455);
    EXPECT_EQ(MulDivRound(3, 7, 2), RoundDiv(21, 2));
    EXPECT_EQ(MulDivRound(1, 10000000, 3579545), 3);  // 2.79 counts
}

TEST(SaturatingTest, AddAndSubtractStopAtTheEnds) {
    EXPECT_EQ(SaturatingAdd(5, -7), -2);
    EXPECT_EQ(SaturatingAdd(kMax, 1), kMax);
    EXPECT_EQ(SaturatingAdd(kMin, -1), kMin);
    EXPECT_EQ(SaturatingSubtract(5, 7), -2);
    EXPECT_EQ(SaturatingSubtract(kMin, 1), kMin);
    EXPECT_EQ(SaturatingSubtract(kMax, -1), kMax);
    EXPECT_EQ(SaturatingSubtract(0, kMin), kMax);
}

}  // namespace
}  // namespace qxr::discipline
