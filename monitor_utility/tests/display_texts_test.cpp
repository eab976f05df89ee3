#include "monitor_utility/display_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "card_access/card_time_conversion.h"

namespace qxr::monitor {
namespace {

constexpr int64_t kSecond = 10000000;

std::vector<int32_t> PeakSequence(std::vector<int64_t> offsets) {
    PeakOffset peak;
    std::vector<int32_t> shown;
    for (int64_t offset : offsets) shown.push_back(peak.Sample(offset));
    return shown;
}

TEST(PeakOffsetTest, OneSecondThenZeroDecaysFivePercentPerRefresh) {
    std::vector<int64_t> offsets(12, 0);
    offsets[0] = kSecond;
    EXPECT_EQ(PeakSequence(offsets),
              (std::vector<int32_t>{1000, 950, 903, 858, 815, 774, 735, 699, 664, 631, 599, 569}));
    PeakOffset peak;
    peak.Sample(-kSecond);  // the sign does not matter
    EXPECT_EQ(peak.Value(), 1000499);
    peak.Sample(0);
    EXPECT_EQ(peak.Value(), 950474);
    peak.Sample(0);
    EXPECT_EQ(peak.Value(), 902950);
}

TEST(PeakOffsetTest, LargeOffsetsAndTheLimit) {
    EXPECT_EQ(PeakSequence({100 * kSecond, 0, 0}), (std::vector<int32_t>{100000, 95000, 90250}));
    EXPECT_EQ(PeakSequence({21474836470}), std::vector<int32_t>{2147484});
    EXPECT_EQ(PeakSequence({INT64_MAX, INT64_MIN, -5000 * kSecond}),
              (std::vector<int32_t>{2147484, 2147484, 2147484}));
}

TEST(PeakOffsetTest, ZeroShowsZeroAndOneMicrosecondShowsOne) {
    EXPECT_EQ(PeakSequence({0, 0, 0}), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(PeakSequence({10, 10, 10}), (std::vector<int32_t>{1, 1, 1}));
    EXPECT_EQ(PeakSequence({9}), std::vector<int32_t>{0});  // under 1 us
}

std::string Offset(int64_t d) {
    char text[32];
    FormatOffset(d, text, sizeof text);
    return text;
}

TEST(DisplayTextsTest, OffsetTextsAndSigns) {
    EXPECT_EQ(Offset(0), "+0.000");
    EXPECT_EQ(Offset(-15000000), "-1.500");
    EXPECT_EQ(Offset(129000), "+0.012");
    EXPECT_EQ(Offset(-1), "-0.000");
    EXPECT_EQ(Offset(123 * kSecond + 9999999), "+123.999");
    EXPECT_EQ(Offset(INT64_MIN), "-922337203685.477");
}

TEST(DisplayTextsTest, DateTimeFormat) {
    char text[64];
    FormatCardTime(CardTime{2003, 1, 2, 4, 5, 60, 999, 0, 0, 0}, text, sizeof text);
    EXPECT_STREQ(text, "01/02/2003  04:05:60");
    FormatCardTime(CardTime{}, text, sizeof text);
    EXPECT_STREQ(text, "00/00/0000  00:00:00");
    FormatSystemTime(SYSTEMTIME{2026, 12, 1, 7, 23, 59, 58, 999}, text, sizeof text);
    EXPECT_STREQ(text, "12/07/2026  23:59:58");
}

TEST(DisplayTextsTest, CardTimesThatNameNoInstant) {
    int64_t t = 0;
    EXPECT_FALSE(CardTimeToFileTime(CardTime{}, true, &t));
    EXPECT_FALSE(CardTimeToFileTime(CardTime{2016, 12, 31, 23, 59, 60, 500, 0, 0, 0}, false, &t));
    // Would wrap into 2003 if narrowed to 16 bits unchecked.
    EXPECT_FALSE(CardTimeToFileTime(CardTime{65536 + 2003, 1, 1, 0, 0, 0, 0, 0, 0, 0}, true, &t));
    EXPECT_FALSE(CardTimeToFileTime(CardTime{2003, 2, 30, 0, 0, 0, 0, 0, 0, 0}, true, &t));
    ASSERT_TRUE(CardTimeToFileTime(CardTime{1601, 1, 1, 0, 0, 1, 250, 0, 0, 0}, true, &t));
    EXPECT_EQ(t, kSecond + 2500000);
    ASSERT_TRUE(CardTimeToFileTime(CardTime{1601, 1, 1, 0, 0, 1, 250, 0, 0, 0}, false, &t));
    EXPECT_EQ(t, kSecond);
}

}  // namespace
}  // namespace qxr::monitor
