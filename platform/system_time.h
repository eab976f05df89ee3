// The FILETIME/SYSTEMTIME conversions of the platform, on the calendar arithmetic above, so
// that every build (native or Windows) converts the same way.
#pragma once

#include "platform/calendar.h"
#include "platform/ports/win_defs.h"

namespace qxr {

inline int64_t FileTimeToInt64(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

inline FILETIME Int64ToFileTime(int64_t value) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return ft;
}

// FileTimeToSystemTime: false when the count is out of the calendar's range.
inline bool FileTimeToSystemTimeFields(int64_t fileTime, SYSTEMTIME* st) {
    calendar::CalendarFields f{};
    if (!calendar::FileTimeToCalendar(fileTime, &f) || f.year > 30827) return false;
    st->wYear = static_cast<WORD>(f.year);
    st->wMonth = static_cast<WORD>(f.month);
    st->wDayOfWeek = static_cast<WORD>(f.dayOfWeek);
    st->wDay = static_cast<WORD>(f.day);
    st->wHour = static_cast<WORD>(f.hour);
    st->wMinute = static_cast<WORD>(f.minute);
    st->wSecond = static_cast<WORD>(f.second);
    st->wMilliseconds = static_cast<WORD>(f.millisecond);
    return true;
}

// SystemTimeToFileTime: false when a field is out of range; wDayOfWeek is ignored.
inline bool SystemTimeFieldsToFileTime(const SYSTEMTIME& st, int64_t* fileTime) {
    const calendar::CalendarFields f{st.wYear, st.wMonth, st.wDay,         st.wHour,
                                     st.wMinute, st.wSecond, st.wMilliseconds, 0};
    return calendar::CalendarToFileTime(f, fileTime);
}

}  // namespace qxr
