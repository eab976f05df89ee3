// The simulated machine's timekeeping, modelled on the NT clock: a clock interrupt every
// `timeIncrement` (nominal) 100-ns units, whose real period may be off by some parts per
// billion; at each interrupt the system time advances by the current per-tick adjustment and
// the tick counter by the nominal increment; a read returns the time as of the last
// interrupt. The performance counter runs on true time. The crystal may also wander
// (`wanderPpmPerHour`, OscillatorWander): that drives the interrupt and the performance
// counter alike, as one crystal drives both on a PC. All time is virtual: it moves only when
// Advance() or Sleep() is called.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ports/system_clock.h"
#include "platform/sim/oscillator_wander.h"

namespace qxr::sim {

struct SimClockConfig {
    // True UTC at the start, as a FILETIME count (default 2026-12-07 00:00:00 UTC).
    int64_t trueStart = 134410752000000000LL;
    // System time minus true time at the start, in 100-ns units.
    int64_t initialOffset = 0;
    // Clock tick length in 100-ns units (156,250 and 100,144 are the common ones).
    DWORD timeIncrement = 156250;
    // How much faster than nominal the interrupt runs, in parts per billion (+100 ppm = 100000).
    int64_t driftPpb = 0;
    // Per-tick adjustment in force at the start and whether the system's own adjustment is on.
    DWORD initialAdjustment = 0;  // 0 = the increment
    bool adjustmentDisabled = true;
    // Performance-counter frequency in counts per second.
    int64_t counterFrequency = 3579545;
    // Milliseconds since boot at the start (the tick counter wraps at 2^32).
    uint64_t uptimeMs = 3600000;
    // The crystal's rate walks randomly by about this much per hour (0 = a steady rate), the
    // walk seeded with `wanderSeed`.
    double wanderPpmPerHour = 0;
    uint32_t wanderSeed = 1;
};

class SimClock : public platform::SystemClock,
                 public platform::PerformanceCounter,
                 public platform::TickCounter {
  public:
    explicit SimClock(const SimClockConfig& config = SimClockConfig{});

    // SystemClock
    void GetSystemTimeAsFileTime(FILETIME* now) override;
    void GetSystemTime(SYSTEMTIME* now) override;
    BOOL SetSystemTime(const SYSTEMTIME* time) override;
    BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) override;
    BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) override;
    // PerformanceCounter
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override;
    BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override;
    // TickCounter
    DWORD GetTickCount() override;
    void Sleep(DWORD milliseconds) override;

    // Moves true time forward by `ticks` 100-ns units, then tells the listeners.
    void Advance(int64_t ticks);
    // Moves true time to just after the next clock interrupt.
    void AdvanceToNextInterrupt();
    // The true time of the first clock interrupt at or after `trueTime`.
    int64_t InterruptAtOrAfter(int64_t trueTime) const;
    // Called after every advance of true time (scenario scripts, the card, tracing).
    void AddAdvanceListener(std::function<void()> listener);
    // When set and returning false, SetSystemTime and SetSystemTimeAdjustment fail with
    // ERROR_PRIVILEGE_NOT_HELD, as they do without SeSystemtimePrivilege.
    void SetPrivilegeCheck(std::function<bool()> check);
    // Makes the next `count` GetSystemTimeAdjustment calls fail.
    void FailAdjustmentQueries(int count) { failQueries_ = count; }

    int64_t TrueTime() const { return now_; }
    // System time as of the last interrupt, as a FILETIME count.
    int64_t SystemTime();
    // Value of the performance counter at a given true time.
    int64_t CounterAt(int64_t trueTime) const;
    DWORD CurrentAdjustment() const { return adjustment_; }
    bool AdjustmentDisabled() const { return disabled_; }
    DWORD TimeIncrement() const { return config_.timeIncrement; }
    int64_t DriftPpb() const { return config_.driftPpb; }
    uint64_t InterruptCount() const { return InterruptsBy(now_); }
    int SetSystemTimeCount() const { return setTimeCount_; }

  private:
    uint64_t InterruptsBy(int64_t trueTime) const;
    int64_t InterruptTime(uint64_t index) const;
    // Brings the system time up to the interrupts that have happened by now.
    void CatchUp();
    bool PrivilegeHeld() const { return !privilegeCheck_ || privilegeCheck_(); }

    SimClockConfig config_;
    OscillatorWander wander_;
    int64_t now_;
    int64_t system_;        // system time as of interrupt number `counted_`
    uint64_t counted_ = 0;  // interrupts already applied to system_
    uint64_t tickBaseMs_;   // uptime at the start
    DWORD adjustment_;
    bool disabled_;
    int failQueries_ = 0;
    int setTimeCount_ = 0;
    std::function<bool()> privilegeCheck_;
    std::vector<std::function<void()>> listeners_;
};

}  // namespace qxr::sim
