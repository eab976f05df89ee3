// The card's date and time as the platform's 100-ns count since 1601, for the service and the
// monitor alike.
#pragma once

#include <stdint.h>

#include "card_access/qxrtime.h"
#include "platform/system_time.h"

namespace qxr {

// False when the fields name no instant (a failed read's zeros, the leap second 60, a wild
// field). The fields are checked before they are narrowed to the record's 16 bits, so that a
// wild value is refused rather than wrapped into a valid date. The card's millisecond is used
// only when asked for.
inline bool CardTimeToFileTime(const CardTime& time, bool withMillisecond, int64_t* fileTime) {
    const int32_t millisecond = withMillisecond ? time.millisecond : 0;
    if (time.year < 0 || time.year > 30827 || time.month < 0 || time.month > 12 || time.day < 0 ||
        time.day > 31 || time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 ||
        time.second < 0 || time.second > 59 || millisecond < 0 || millisecond > 999) {
        return false;
    }
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(time.year);
    fields.wMonth = static_cast<WORD>(time.month);
    fields.wDay = static_cast<WORD>(time.day);
    fields.wHour = static_cast<WORD>(time.hour);
    fields.wMinute = static_cast<WORD>(time.minute);
    fields.wSecond = static_cast<WORD>(time.second);
    fields.wMilliseconds = static_cast<WORD>(millisecond);
    return SystemTimeFieldsToFileTime(fields, fileTime);
}

}  // namespace qxr
