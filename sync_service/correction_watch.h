// The system clock as the service's engine sees it, passed through unchanged and watched, so
// that the tracking log can tell a correction that set the clock in one step from one that
// slewed it, without the engine having to say.
#pragma once

#include "platform/ports/system_clock.h"

namespace qxr::sync {

class CorrectionWatch : public platform::SystemClock {
  public:
    explicit CorrectionWatch(platform::SystemClock& clock) : clock_(clock) {}

    // Forgets what was seen; called before each correction.
    void Reset() { timeSet_ = adjustmentSet_ = false; }
    // SetSystemTime was called since the reset (whether or not the system took it).
    bool TimeSet() const { return timeSet_; }
    bool AdjustmentSet() const { return adjustmentSet_; }

    void GetSystemTimeAsFileTime(FILETIME* now) override { clock_.GetSystemTimeAsFileTime(now); }
    void GetSystemTime(SYSTEMTIME* now) override { clock_.GetSystemTime(now); }
    BOOL SetSystemTime(const SYSTEMTIME* time) override {
        timeSet_ = true;
        return clock_.SetSystemTime(time);
    }
    BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) override {
        return clock_.GetSystemTimeAdjustment(adjustment, increment, disabled);
    }
    BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) override {
        adjustmentSet_ = true;
        return clock_.SetSystemTimeAdjustment(adjustment, disabled);
    }

  private:
    platform::SystemClock& clock_;
    bool timeSet_ = false;
    bool adjustmentSet_ = false;
};

}  // namespace qxr::sync
