// The monitor dialog's display rules over plain values: the date and time format, the offset
// text and the peak-offset indicator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card_access/qxrtime.h"
#include "platform/ports/win_defs.h"

namespace qxr::monitor {

// "MM/DD/YYYY  hh:mm:ss"; values as given (the card's second 60 included).
void FormatDateTime(int month, int day, int year, int hour, int minute, int second, char* text,
                    size_t size);
void FormatCardTime(const CardTime& time, char* text, size_t size);
void FormatSystemTime(const SYSTEMTIME& time, char* text, size_t size);

// Seconds with three decimals, truncated, system minus card: "+0.012", "-1.500".
void FormatOffset(int64_t systemMinusCard, char* text, size_t size);

// The decaying peak of |offset|: in microseconds plus a bias of 499, so that a fresh peak of
// n us shows as n / 1000 rounded up.
class PeakOffset {
  public:
    // One refresh with the offset measured; returns the milliseconds to show.
    int32_t Sample(int64_t systemMinusCard);
    int32_t Milliseconds() const { return static_cast<int32_t>((value_ + 500) / 1000); }
    int64_t Value() const { return value_; }

  private:
    int64_t value_ = 0;
};

}  // namespace qxr::monitor
