#include "platform/sim/sim_clock.h"

#include "platform/system_time.h"

namespace qxr::sim {

namespace {
constexpr int64_t kBillion = 1000000000;
}

SimClock::SimClock(const SimClockConfig& config)
    : config_(config),
      wander_(config.trueStart, config.wanderPpmPerHour, config.wanderSeed),
      now_(config.trueStart),
      system_(config.trueStart + config.initialOffset),
      tickBaseMs_(config.uptimeMs),
      adjustment_(config.initialAdjustment != 0 ? config.initialAdjustment : config.timeIncrement),
      disabled_(config.adjustmentDisabled) {
    if (config_.timeIncrement == 0) config_.timeIncrement = 156250;
    // A drift of -100 % or beyond would stop or reverse the interrupt.
    if (config_.driftPpb <= -kBillion) config_.driftPpb = -kBillion + 1;
    if (config_.counterFrequency <= 0) config_.counterFrequency = 3579545;
}

uint64_t SimClock::InterruptsBy(int64_t trueTime) const {
    const __int128 elapsed = trueTime - config_.trueStart;
    if (elapsed <= 0) return 0;
    return static_cast<uint64_t>(
        (elapsed * (kBillion + config_.driftPpb) + wander_.Phase(trueTime)) /
        (static_cast<__int128>(config_.timeIncrement) * kBillion));
}

int64_t SimClock::InterruptTime(uint64_t index) const {
    // Smallest true time t with InterruptsBy(t) >= index.
    const __int128 scaled = static_cast<__int128>(index) * config_.timeIncrement * kBillion;
    if (wander_.On()) return wander_.Solve(scaled, kBillion + config_.driftPpb);
    const __int128 rate = kBillion + config_.driftPpb;
    return config_.trueStart + static_cast<int64_t>((scaled + rate - 1) / rate);
}

void SimClock::CatchUp() {
    const uint64_t due = InterruptsBy(now_);
    if (due > counted_) {
        const DWORD perTick = disabled_ ? config_.timeIncrement : adjustment_;
        system_ += static_cast<int64_t>(due - counted_) * perTick;
        counted_ = due;
    }
}

int64_t SimClock::SystemTime() {
    CatchUp();
    return system_;
}

void SimClock::GetSystemTimeAsFileTime(FILETIME* now) {
    *now = Int64ToFileTime(SystemTime());
}

void SimClock::GetSystemTime(SYSTEMTIME* now) {
    FileTimeToSystemTimeFields(SystemTime(), now);
}

BOOL SimClock::SetSystemTime(const SYSTEMTIME* time) {
    int64_t value = 0;
    if (time == nullptr || !SystemTimeFieldsToFileTime(*time, &value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PrivilegeHeld()) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    CatchUp();
    system_ = value;
    ++setTimeCount_;
    return TRUE;
}

BOOL SimClock::GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) {
    if (failQueries_ > 0) {
        --failQueries_;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    *adjustment = disabled_ ? config_.timeIncrement : adjustment_;
    *increment = config_.timeIncrement;
    *disabled = disabled_ ? TRUE : FALSE;
    return TRUE;
}

BOOL SimClock::SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) {
    if (!PrivilegeHeld()) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    if (!disabled && adjustment == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CatchUp();  // the old rate applies up to now
    disabled_ = disabled != FALSE;
    if (!disabled_) adjustment_ = adjustment;
    return TRUE;
}

int64_t SimClock::CounterAt(int64_t trueTime) const {
    const __int128 sinceBoot = static_cast<__int128>(trueTime - config_.trueStart) +
                               static_cast<__int128>(tickBaseMs_) * 10000;
    if (!wander_.On()) return static_cast<int64_t>(sinceBoot * config_.counterFrequency / 10000000);
    return static_cast<int64_t>((sinceBoot * kBillion + wander_.Phase(trueTime)) *
                                config_.counterFrequency /
                                (static_cast<__int128>(10000000) * kBillion));
}

BOOL SimClock::QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = CounterAt(now_);
    return TRUE;
}

BOOL SimClock::QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = config_.counterFrequency;
    return TRUE;
}

DWORD SimClock::GetTickCount() {
    // Counted by the interrupt at the nominal tick length, so it drifts with it.
    const uint64_t ms = tickBaseMs_ + InterruptsBy(now_) * config_.timeIncrement / 10000;
    return static_cast<DWORD>(ms & 0xFFFFFFFFu);
}

void SimClock::Sleep(DWORD milliseconds) {
    Advance(static_cast<int64_t>(milliseconds) * 10000);
}

void SimClock::Advance(int64_t ticks) {
    if (ticks <= 0) return;
    now_ += ticks;
    for (auto& listener : listeners_) listener();
}

void SimClock::AdvanceToNextInterrupt() {
    Advance(InterruptTime(InterruptsBy(now_) + 1) - now_);
}

int64_t SimClock::InterruptAtOrAfter(int64_t trueTime) const {
    const uint64_t n = InterruptsBy(trueTime);
    const int64_t at = InterruptTime(n);
    return at >= trueTime ? at : InterruptTime(n + 1);
}

void SimClock::AddAdvanceListener(std::function<void()> listener) {
    listeners_.push_back(std::move(listener));
}

void SimClock::SetPrivilegeCheck(std::function<bool()> check) {
    privilegeCheck_ = std::move(check);
}

}  // namespace qxr::sim
