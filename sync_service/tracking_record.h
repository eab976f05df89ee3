// One line of the tracking log: what a correction measured and did. The service writes the
// lines (tracking_log.h); qxrsim writes them through the same service code and reads them
// back to plot a machine's record. Comma-separated, one header line, CR LF line ends:
//
//   system_utc,card_utc,offset_ms,action,adjustment,increment,reference,gps_fitted
//   2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,2002,step,156249,156250,GPS,1
#pragma once

#include <cstdint>

#include "platform/ports/win_defs.h"

namespace qxr::sync {

enum class TrackingAction : int32_t {
    kNone = 0,  // the engine declined: the clock is another program's, or the date is bogus
    kSlew = 1,
    kStep = 2,
};

struct TrackingRecord {
    int64_t systemTime = 0;  // system clock before the correction (FILETIME scale)
    int64_t cardTime = 0;    // the card's time at that same instant
    int32_t offsetMs = 0;    // as the engine returned it: system minus card
    TrackingAction action = TrackingAction::kNone;
    DWORD adjustment = 0;   // per-tick adjustment in force afterwards (the increment if none)
    DWORD increment = 0;    // the nominal clock increment
    int32_t reference = 0;  // TimeReference: 0 none, 1 GPS, 2 on-board clock
    bool gpsFitted = false;
};

inline constexpr char kTrackingLogHeader[] =
    "system_utc,card_utc,offset_ms,action,adjustment,increment,reference,gps_fitted\r\n";
// Room for the longest line, terminator included.
inline constexpr int kTrackingLineSize = 128;

const char* TrackingActionName(TrackingAction action);
// "?", "GPS", "on-board clock" as in event 108; "?" for a value outside 0..2.
const char* TrackingReferenceName(int32_t reference);

// "2026-12-07T13:05:09.250Z"; false when the count is outside the calendar (size >= 25).
bool FormatIsoTime(int64_t fileTime, char* out, int size);

// The line with its CR LF, terminated; returns its length, 0 when a time is outside the
// calendar or it does not fit.
int FormatTrackingLine(const TrackingRecord& record, char* out, int size);

}  // namespace qxr::sync
