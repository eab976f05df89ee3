#include "monitor_utility/display_texts.h"

#include <cstdio>

namespace qxr::monitor {

namespace {

constexpr int64_t kMaxPeakMicroseconds = 2147483647;
constexpr int64_t kPeakBias = 499;

}  // namespace

void FormatDateTime(int month, int day, int year, int hour, int minute, int second, char* text,
                    size_t size) {
    std::snprintf(text, size, "%02d/%02d/%04d  %02d:%02d:%02d", month, day, year, hour, minute,
                  second);
}

void FormatCardTime(const CardTime& time, char* text, size_t size) {
    FormatDateTime(time.month, time.day, time.year, time.hour, time.minute, time.second, text,
                   size);
}

void FormatSystemTime(const SYSTEMTIME& time, char* text, size_t size) {
    FormatDateTime(time.wMonth, time.wDay, time.wYear, time.wHour, time.wMinute, time.wSecond, text,
                   size);
}

void FormatOffset(int64_t systemMinusCard, char* text, size_t size) {
    // Unsigned magnitude: the most negative count has no positive counterpart.
    const uint64_t magnitude = systemMinusCard < 0 ? 0u - static_cast<uint64_t>(systemMinusCard)
                                                   : static_cast<uint64_t>(systemMinusCard);
    const uint64_t seconds = magnitude / 10000000u;
    const unsigned milliseconds = static_cast<unsigned>((magnitude % 10000000u) / 10000u);
    std::snprintf(text, size, "%s%llu.%03u", systemMinusCard < 0 ? "-" : "+",
                  static_cast<unsigned long long>(seconds), milliseconds);
}

int32_t PeakOffset::Sample(int64_t systemMinusCard) {
    const uint64_t magnitude = systemMinusCard < 0 ? 0u - static_cast<uint64_t>(systemMinusCard)
                                                   : static_cast<uint64_t>(systemMinusCard);
    uint64_t micro = magnitude / 10u;
    if (micro > static_cast<uint64_t>(kMaxPeakMicroseconds)) micro = kMaxPeakMicroseconds;
    const int64_t candidate = static_cast<int64_t>(micro) + kPeakBias;
    value_ = value_ * 95 / 100;
    if (value_ < candidate) value_ = candidate;
    return Milliseconds();
}

}  // namespace qxr::monitor
