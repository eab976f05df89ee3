// The system clock, performance counter and tick counter of the real Windows API.
#pragma once

#include "platform/ports/system_clock.h"

namespace qxr::win32 {

class Win32Clock : public platform::SystemClock,
                   public platform::PerformanceCounter,
                   public platform::TickCounter {
public:
    void GetSystemTimeAsFileTime(FILETIME* now) override { ::GetSystemTimeAsFileTime(now); }
    void GetSystemTime(SYSTEMTIME* now) override { ::GetSystemTime(now); }
    BOOL SetSystemTime(const SYSTEMTIME* time) override { return ::SetSystemTime(time); }
    BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) override {
        return ::GetSystemTimeAdjustment(adjustment, increment, disabled);
    }
    BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) override {
        return ::SetSystemTimeAdjustment(adjustment, disabled);
    }
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
        return ::QueryPerformanceCounter(count);
    }
    BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override {
        return ::QueryPerformanceFrequency(frequency);
    }
    DWORD GetTickCount() override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace qxr::win32
