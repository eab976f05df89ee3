#include "clock_discipline/clock_discipline.h"

#include <limits>

#include "clock_discipline/discipline_trace.h"
#include "clock_discipline/priority_boost.h"
#include "clock_discipline/privilege_guard.h"
#include "clock_discipline/round_div.h"
#include "platform/system_time.h"

namespace qxr::discipline {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerMillisecond = 10000;
constexpr LPCSTR kSystemTimePrivilege = "SeSystemtimePrivilege";

const char* TrueFalse(bool value) {
    return value ? "TRUE" : "FALSE";
}

// Offsets beyond about 24.8 days stop at the ends of the 32-bit result, keeping their sign.
int32_t MillisecondsHeld(int64_t milliseconds) {
    if (milliseconds > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (milliseconds < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(milliseconds);
}

bool PlausibleDate(const SYSTEMTIME& date) {
    return date.wYear >= 2002 && date.wYear <= 2099 && date.wMonth >= 1 && date.wMonth <= 12 &&
           date.wDay >= 1 && date.wDay <= 31;
}

}  // namespace

ClockDiscipline::ClockDiscipline(const DisciplinePorts& ports, int32_t rampDurationSeconds,
                                 int32_t maxAdjustPercent)
    : ports_(ports) {
    osVersion_.dwOSVersionInfoSize = sizeof osVersion_;
    ports_.version.GetVersionExA(&osVersion_);
    maxAdjustPercent_ = maxAdjustPercent;
    rampTicks_ = int64_t{rampDurationSeconds} * kTicksPerSecond;
    LARGE_INTEGER frequency{};
    if (ports_.counter.QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
        counterFrequency_ = frequency.QuadPart;
    }
    IsAdjustmentAvailable();
}

ClockDiscipline::~ClockDiscipline() {
    StopAdjustment();
}

DWORD ClockDiscipline::AveragingEntry(int index) const {
    return index >= 0 && index < kAveragingLength ? averagingBuffer_[index] : 0;
}

bool ClockDiscipline::IsAdjustmentAvailable() {
    // While our own correction is in force the system's values would only show our marker.
    if (adjusting_) return available_;
    if (!IsNtFamily()) {
        available_ = true;
        return true;
    }

    BOOL disabled = FALSE;
    BOOL queried =
        ports_.clock.GetSystemTimeAdjustment(&systemAdjustment_, &timeIncrement_, &disabled);
    const bool differs = systemAdjustment_ != timeIncrement_;
    bool result = false;
    if (queried) {
        if (disabled && !differs && !takeoverDone_) {
            // The system's own adjustment is in force: once per engine, take the facility
            // over by writing the nominal rate ourselves.
            takeoverDone_ = true;
            adjusting_ = true;
            StopAdjustment();
            queried = ports_.clock.GetSystemTimeAdjustment(&systemAdjustment_, &timeIncrement_,
                                                           &disabled);
        }
        // A different adjustment means another program is steering the clock.
        result = queried && !differs;
    }
    if (result && available_) return true;

    DisciplineTrace("GetSysTimeAdjust isValid=%s, p1=0x%X, p2=0x%X, p3=%s", TrueFalse(queried),
                    static_cast<unsigned>(systemAdjustment_), static_cast<unsigned>(timeIncrement_),
                    TrueFalse(disabled));
    if (result && !available_ && !disabled && timeIncrement_ > 0) ComputeSlewLimits();
    available_ = result;
    return result;
}

void ClockDiscipline::ComputeSlewLimits() {
    rampSteps_ = rampTicks_ / int64_t{timeIncrement_};
    const int64_t span = rampSteps_ * int64_t{timeIncrement_};
    for (DWORD& entry : averagingBuffer_) entry = timeIncrement_;
    upperLimit_ = MulDivRound(span, maxAdjustPercent_, 100);
    // Formed in 64 bits so that no percentage can overflow it. At -100 % or below no slowed
    // rate exists; a lower limit of 0 above a negative upper limit then lets nothing be slewed,
    // as for every other negative percentage.
    const int64_t slowedScale = int64_t{maxAdjustPercent_} + 100;
    lowerLimit_ = slowedScale > 0
                      ? SaturatingSubtract(0, MulDivRound(span, maxAdjustPercent_, slowedScale))
                      : 0;
}

void ClockDiscipline::StopAdjustment() {
    if (!adjusting_) return;
    PrivilegeGuard privilege(ports_.privileges, ports_.scheduling, ports_.version,
                             kSystemTimePrivilege);
    ports_.clock.SetSystemTimeAdjustment(timeIncrement_, FALSE);
    adjusting_ = false;
}

DWORD ClockDiscipline::PushIncrementAndAverage() {
    DWORD sum = 0;  // 32-bit, wrapping, as the rate values are
    for (DWORD entry : averagingBuffer_) sum += entry;
    for (int i = kAveragingLength - 1; i > 0; --i) averagingBuffer_[i] = averagingBuffer_[i - 1];
    averagingBuffer_[0] = timeIncrement_;
    return sum / kAveragingLength;
}

int32_t ClockDiscipline::Update(int64_t cardTime, int32_t timeSetBias, int64_t latchCounter) {
    lastOffset_ = 0;
    if (!IsAdjustmentAvailable()) return 0;

    PrivilegeGuard privilege(ports_.privileges, ports_.scheduling, ports_.version,
                             kSystemTimePrivilege);
    PriorityBoost boost(ports_.scheduling, REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL);

    const DWORD average = PushIncrementAndAverage();

    // Back to back, so that the latch-age correction spans exactly latch to reading.
    FILETIME now{};
    ports_.clock.GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter{};
    ports_.counter.QueryPerformanceCounter(&counter);
    const int64_t systemTime = FileTimeToInt64(now);

    // The bias is formed in 64 bits: no bias can overflow it.
    const int64_t bias = int64_t{timeSetBias} * 1000;
    int64_t offset = SaturatingSubtract(SaturatingSubtract(cardTime, bias), systemTime);
    int64_t elapsed = 0;
    if (latchCounter != 0 && counterFrequency_ > 0) {
        elapsed = MulDivRound(SaturatingSubtract(counter.QuadPart, latchCounter), kTicksPerSecond,
                              counterFrequency_);
        offset = SaturatingAdd(offset, elapsed);
    }

    DWORD adjustment = 0;
    if (rampSteps_ > 0 && lowerLimit_ <= offset && offset <= upperLimit_ &&
        SlewAdjustment(offset, average, &adjustment)) {
        Slew(offset, adjustment, average);
    } else {
        offset = SetInOneStep(offset, SaturatingAdd(cardTime, elapsed));
    }
    lastOffset_ = SaturatingSubtract(0, offset);
    return MillisecondsHeld(offset / -kTicksPerMillisecond);
}

bool ClockDiscipline::SlewAdjustment(int64_t offset, DWORD average, DWORD* adjustment) const {
    // Formed in 64 bits: a rate the system's 32-bit value cannot hold is no rate at all.
    const int64_t value = int64_t{average} + offset / rampSteps_;
    if (value < 0 || value > int64_t{std::numeric_limits<DWORD>::max()}) return false;
    *adjustment = static_cast<DWORD>(value);
    return true;
}

void ClockDiscipline::Slew(int64_t offset, DWORD adjustment, DWORD average) {
    DWORD applied = adjustment;
    if (adjustment == timeIncrement_) {
        // Never leave the marker value: nudge one unit toward where the rate has been.
        applied = average < adjustment ? adjustment - 1 : adjustment + 1;
    }
    ports_.clock.SetSystemTimeAdjustment(applied, FALSE);
    adjusting_ = true;
    DisciplineTrace("Time being adjusted gradually");
    DisciplineTrace("Base adjust=0x%X, average=0x%X", static_cast<unsigned>(timeIncrement_),
                    static_cast<unsigned>(average));
    // Only a rate that already holds the clock within a thousandth of the ramp is remembered
    // (|offset| x 1000 < ramp, compared without forming the product).
    const uint64_t magnitude = detail::Magnitude(offset);
    if (rampTicks_ > 0 && magnitude <= static_cast<uint64_t>(rampTicks_ - 1) / 1000) {
        DisciplineTrace("Adding 0x%X to averaging buffer", static_cast<unsigned>(adjustment));
        averagingBuffer_[0] = adjustment;
    }
}

int64_t ClockDiscipline::SetInOneStep(int64_t offset, int64_t time) {
    StopAdjustment();
    // A count outside the calendar leaves every field 0, which the date check rejects.
    SYSTEMTIME date{};
    FileTimeToSystemTimeFields(time, &date);
    DisciplineTrace("Date = %02d/%02d/%04d", date.wMonth, date.wDay, date.wYear);
    if (!PlausibleDate(date)) {
        DisciplineTrace("Bogus date - Time not changed");
        return 0;
    }
    ports_.clock.SetSystemTime(&date);
    if (rampSteps_ > 0) {
        // Just off the increment, so that other engines see the clock as taken.
        ports_.clock.SetSystemTimeAdjustment(timeIncrement_ - 1, FALSE);
        adjusting_ = true;
    }
    DisciplineTrace("Time was set in one step");
    return offset;
}

}  // namespace qxr::discipline
