// Conversion between 100-ns counts since 1601-01-01 00:00 UTC (the FILETIME scale) and
// proleptic Gregorian calendar fields. Header-only and free of the standard library, so
// that the card model can use it inside a kernel driver too.
#pragma once

#include <stdint.h>

namespace qxr::calendar {

inline constexpr int64_t kTicksPerMillisecond = 10000;
inline constexpr int64_t kTicksPerSecond = 10000000;
inline constexpr int64_t kTicksPerDay = 86400LL * kTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kDaysFrom1601To1970 = 134774;
// FILETIME values above this (year 30827) are refused, as FileTimeToSystemTime does.
inline constexpr int64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFLL;

struct CalendarFields {
    int year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;
    int minute;
    int second;
    int millisecond;
    int dayOfWeek;  // 0 = Sunday
};

inline constexpr bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

inline constexpr int DaysInMonth(int64_t year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date (H. Hinnant's algorithm).
inline constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

inline constexpr void CivilFromDays(int64_t z, int64_t* year, int* month, int* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    *year = yoe + era * 400 + (m <= 2 ? 1 : 0);
    *month = static_cast<int>(m);
    *day = static_cast<int>(d);
}

// Like FileTimeToSystemTime: false for negative counts.
inline constexpr bool FileTimeToCalendar(int64_t fileTime, CalendarFields* out) {
    if (fileTime < 0) return false;
    const int64_t days = fileTime / kTicksPerDay;
    int64_t rest = fileTime % kTicksPerDay;
    int64_t year = 0;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &out->month, &out->day);
    out->year = static_cast<int>(year);
    out->hour = static_cast<int>(rest / (3600 * kTicksPerSecond));
    rest %= 3600 * kTicksPerSecond;
    out->minute = static_cast<int>(rest / (60 * kTicksPerSecond));
    rest %= 60 * kTicksPerSecond;
    out->second = static_cast<int>(rest / kTicksPerSecond);
    rest %= kTicksPerSecond;
    out->millisecond = static_cast<int>(rest / kTicksPerMillisecond);
    out->dayOfWeek = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
    return true;
}

// Like SystemTimeToFileTime: false for fields out of range (years 1601..30827, the day
// checked against the month's length, second 0..59, millisecond 0..999).
inline constexpr bool CalendarToFileTime(const CalendarFields& f, int64_t* out) {
    if (f.year < 1601 || f.year > 30827 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.day > DaysInMonth(f.year, f.month) || f.hour < 0 || f.hour > 23 || f.minute < 0 ||
        f.minute > 59 || f.second < 0 || f.second > 59 || f.millisecond < 0 ||
        f.millisecond > 999) {
        return false;
    }
    const int64_t days = DaysFromCivil(f.year, f.month, f.day) + kDaysFrom1601To1970;
    *out = days * kTicksPerDay + f.hour * 3600 * kTicksPerSecond + f.minute * 60 * kTicksPerSecond +
           f.second * kTicksPerSecond + f.millisecond * kTicksPerMillisecond;
    return true;
}

}  // namespace qxr::calendar
