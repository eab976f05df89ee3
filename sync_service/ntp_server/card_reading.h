// What the synchronizer loop learns of the card, as it hands it to the NTP server: each
// status (the active reference) and each time reading with the counter it belongs to.
#pragma once

#include <cstdint>

#include "card_access/qxrtime.h"

namespace qxr::ntp {

struct CardReading {
    enum Kind : uint8_t { kStatus, kTime, kTimeFailed };
    Kind kind = kStatus;
    int32_t reference = 0;    // kStatus: 0 none, 1 GPS, 2 on-board clock
    int64_t counter = 0;      // kTime: performance counter at which the card had `cardTime`
    int64_t cardTime = 0;     // kTime: FILETIME count
    int64_t uncertainty = 0;  // kTime: 100-ns units beyond the card's own resolution
};

// A time reading from the library's record, read between counter values `before` and
// `after`. With a latch counter that lies within the request's second, the card's whole
// second at the latch (the driver latches the counter when the card's second begins);
// without one, the time to the millisecond at the middle of the request, which is less exact
// by half the request's length. The card keeps whole milliseconds, so half of one is added:
// the true time lies anywhere in the millisecond after the one it shows. False when the
// record names no instant.
bool MakeTimeReading(const CardTime& time, int64_t before, int64_t after, int64_t frequency,
                     CardReading* reading);

}  // namespace qxr::ntp
