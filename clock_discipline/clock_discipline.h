// Keeps the system clock in step with the card's clock: each update measures the offset of
// one card reading and either slews the clock over one ramp period, on top of the averaged
// rate of the recent past, or sets it in one step. While this engine has a rate correction in
// force it never leaves the system's per-tick adjustment equal to the clock increment; that
// difference tells every other engine that the clock is taken.
#pragma once

#include <cstdint>

#include "clock_discipline/discipline_ports.h"

namespace qxr::discipline {

class ClockDiscipline {
  public:
    static constexpr int kAveragingLength = 32;

    ClockDiscipline(const DisciplinePorts& ports, int32_t rampDurationSeconds,
                    int32_t maxAdjustPercent);
    ~ClockDiscipline();
    ClockDiscipline(const ClockDiscipline&) = delete;
    ClockDiscipline& operator=(const ClockDiscipline&) = delete;

    // cardTime: the card's UTC time in 100-ns units since 1601; timeSetBias: in units of
    // 100 us, subtracted from the offset that is slewed away; latchCounter: performance-counter
    // value at which the card time was latched (0 = unknown). Returns system minus card in
    // milliseconds, or 0 when the clock is not ours to adjust or the card date is implausible.
    // Beyond the 32-bit range (about 24.8 days) the result stops at its end, sign kept.
    int32_t Update(int64_t cardTime, int32_t timeSetBias, int64_t latchCounter);
    // The last Update's result before it was rounded to milliseconds: system minus card in
    // 100-ns units (0 when it declined).
    int64_t LastOffset() const { return lastOffset_; }
    bool IsAdjustmentAvailable();
    // Puts the clock back to its nominal rate if this engine changed it.
    void StopAdjustment();

    // State for diagnostics.
    int64_t RampSteps() const { return rampSteps_; }
    int64_t LowerLimit() const { return lowerLimit_; }
    int64_t UpperLimit() const { return upperLimit_; }
    bool IsAdjusting() const { return adjusting_; }
    DWORD TimeIncrement() const { return timeIncrement_; }
    // Entry 0 is the newest; an index outside the buffer gives 0.
    DWORD AveragingEntry(int index) const;

  private:
    bool IsNtFamily() const { return osVersion_.dwPlatformId == VER_PLATFORM_WIN32_NT; }
    void ComputeSlewLimits();
    // Moves every entry one place older, makes the increment the newest entry and returns
    // the average of the entries as they stood before.
    DWORD PushIncrementAndAverage();
    // The per-tick value that removes `offset` over one ramp on top of `average`; false when
    // it does not fit the system's 32-bit value, so that the offset is set in one step.
    bool SlewAdjustment(int64_t offset, DWORD average, DWORD* adjustment) const;
    void Slew(int64_t offset, DWORD adjustment, DWORD average);
    // Returns the offset to report: unchanged, or 0 when the date was rejected.
    int64_t SetInOneStep(int64_t offset, int64_t time);

    DisciplinePorts ports_;
    OSVERSIONINFOA osVersion_{};
    int64_t rampTicks_ = 0;
    int64_t rampSteps_ = 0;
    int64_t lowerLimit_ = 0;
    int64_t upperLimit_ = 0;
    int64_t counterFrequency_ = 0;
    int32_t maxAdjustPercent_ = 0;
    int64_t lastOffset_ = 0;
    DWORD averagingBuffer_[kAveragingLength] = {};
    DWORD systemAdjustment_ = 0;
    DWORD timeIncrement_ = 0;
    bool available_ = false;
    bool adjusting_ = false;
    bool takeoverDone_ = false;
};

}  // namespace qxr::discipline
