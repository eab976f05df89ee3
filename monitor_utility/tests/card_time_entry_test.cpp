#include "monitor_utility/card_time_entry.h"

#include <gtest/gtest.h>

#include <climits>

namespace qxr::monitor {
namespace {

struct Fields {
    int32_t month, day, year, hour, minute, second;
    bool operator==(const Fields& o) const {
        return month == o.month && day == o.day && year == o.year && hour == o.hour &&
               minute == o.minute && second == o.second;
    }
};

Fields Parse(const char* text) {
    CardTime request{};
    request.millisecond = -7;  // untouched
    EXPECT_TRUE(ParseCardTimeEntry(text, &request)) << text;
    EXPECT_EQ(request.millisecond, -7);
    return Fields{request.month, request.day,    request.year,
                  request.hour,  request.minute, request.second};
}

TEST(CardTimeEntryTest, WellFormedEntries) {
    const Fields newYearsEve{12, 31, 2003, 23, 59, 59};
    EXPECT_EQ(Parse("12/31/2003  23:59:59"), newYearsEve);
    EXPECT_EQ(Parse("12/31/2003 23:59:59"), newYearsEve);
    EXPECT_EQ(Parse("12/31/2003  23:59:59 and more"), newYearsEve);
    EXPECT_EQ(Parse("1/2/2003 4:5:6"), (Fields{1, 2, 2003, 4, 5, 6}));
    // Well formed, though no field the card accepts.
    EXPECT_EQ(Parse("2003/12/31 10:00:00"), (Fields{2003, 12, 31, 10, 0, 0}));
    EXPECT_EQ(Parse("12/31/03 10:00:00"), (Fields{12, 31, 3, 10, 0, 0}));
    // Blanks and a sign before a number; no digits reads 0.
    EXPECT_EQ(Parse(" +1/ -2/x 4:a:"), (Fields{1, -2, 0, 4, 0, 0}));
}

TEST(CardTimeEntryTest, MalformedEntries) {
    for (const char* text :
         {"12-31-2003 23:59:59", "12/31/2003 23:59", "/12/31 2003 1:2:3", "12/31/2003:1:2:3",
          "12/31/2003", "", "12/31/2003 23 59:59", "12/31/2003\t23:59:59"}) {
        CardTime request{};
        EXPECT_FALSE(ParseCardTimeEntry(text, &request)) << text;
    }
}

TEST(CardTimeEntryTest, OverlongNumbersSaturate) {
    EXPECT_EQ(Parse("99999999999999999999999/1/2003 1:2:3").month, INT32_MAX);
    EXPECT_EQ(Parse("1/2/-99999999999999999999999 1:2:3").year, INT32_MIN);
    EXPECT_EQ(Parse("1/2/2003 1:2:2147483648").second, INT32_MAX);
    EXPECT_EQ(Parse("1/2/2003 1:2:-2147483648").second, INT32_MIN);
    EXPECT_EQ(Parse("1/2/2003 1:2:2147483647").second, INT32_MAX);
}

}  // namespace
}  // namespace qxr::monitor
