#include "monitor_utility/card_time_entry.h"

#include <cstdint>
#include <cstring>

namespace qxr::monitor {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Position of the first `c` in text after `from`, or -1.
long FindAfter(const char* text, long from, char c) {
    // from + 1 first: text + from would point before the text for the first search (-1).
    const char* found = std::strchr(text + (from + 1), c);
    return found != nullptr ? static_cast<long>(found - text) : -1;
}

}  // namespace

int32_t ParseEntryNumber(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && IsBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // Accumulated as a magnitude that stops growing past the limit, so that no digit count
    // can overflow.
    const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
    int64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

bool ParseCardTimeEntry(const char* text, CardTime* request) {
    const long a = FindAfter(text, -1, '/');
    const long b = a < 0 ? -1 : FindAfter(text, a, '/');
    const long c = b < 0 ? -1 : FindAfter(text, b, ' ');
    const long d = c < 0 ? -1 : FindAfter(text, c, ':');
    const long e = d < 0 ? -1 : FindAfter(text, d, ':');
    if (a <= 0 || b <= a || c <= b || d <= c || e <= d) return false;
    const char* end = text + std::strlen(text);
    request->month = ParseEntryNumber(text, text + a);
    request->day = ParseEntryNumber(text + a + 1, text + b);
    request->year = ParseEntryNumber(text + b + 1, text + c);
    request->hour = ParseEntryNumber(text + c + 1, text + d);
    request->minute = ParseEntryNumber(text + d + 1, text + e);
    request->second = ParseEntryNumber(text + e + 1, end);
    return true;
}

}  // namespace qxr::monitor
