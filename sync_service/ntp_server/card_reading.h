// What the synchronizer loop learns of the card, as it hands it to the NTP server: each
// status (the active reference) and each time reading with the counter it belongs to.
#pragma once

#include <cstdint>

#include "card_access/qxrtime.h"

namespace qxr::ntp {

struct CardReading {
    enum Kind : uint8_t { kStatus, kTime, kTimeFailed };
    Kind kind = kStatus;
    // kStatus: 0 none, 1 GPS, 2 on-board clock; kTime: the one in force when it was read
    int32_t reference = 0;
    int64_t counter = 0;      // kTime: performance counter at which the card had `cardTime`
    int64_t cardTime = 0;     // kTime: FILETIME count
    int64_t uncertainty = 0;  // kTime: 100-ns units beyond the card's own resolution
};

// A time reading from the library's record, read between counter values `before` and
// `after`. With a latch counter, the card's whole second at the latch (the driver latches the
// counter when the card's second begins); without one, the time to the millisecond at the
// middle of the request, which is less exact by half the request's length. The card keeps
// whole milliseconds, so half of one is added: the true time lies anywhere in the millisecond
// after the one it shows. False when the record names no instant, and when its latch cannot
// be right: the counter's run from the latch to the request must agree with the card's
// millisecond field within kLatchTolerance (a latch of the previous second would make the
// reading a whole second off).
bool MakeTimeReading(const CardTime& time, int64_t before, int64_t after, int64_t frequency,
                     CardReading* reading);

// How far (100-ns units) the latch may lie from where the card's milliseconds put the start
// of its second: the restart threshold of the fit, so that a latch late enough to move the
// reading off the line is dropped here rather than starting the fit anew.
inline constexpr int64_t kLatchTolerance = 20000;  // 2 ms
}  // namespace qxr::ntp
