// System time and its per-tick adjustment.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class SystemClock {
public:
    virtual ~SystemClock() = default;
    virtual void GetSystemTimeAsFileTime(FILETIME* now) = 0;
    virtual void GetSystemTime(SYSTEMTIME* now) = 0;
    // FALSE (reason in GetLastError()) when the time cannot be set, e.g. without the privilege.
    virtual BOOL SetSystemTime(const SYSTEMTIME* time) = 0;
    virtual BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) = 0;
    virtual BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) = 0;
};

// The high-resolution counter the card's driver latches its readings with.
class PerformanceCounter {
public:
    virtual ~PerformanceCounter() = default;
    virtual BOOL QueryPerformanceCounter(LARGE_INTEGER* count) = 0;
    virtual BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) = 0;
};

// The millisecond tick counter (32 bits, wraps after 49.7 days) and Sleep.
class TickCounter {
public:
    virtual ~TickCounter() = default;
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};

}  // namespace qxr::platform
