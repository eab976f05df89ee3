#include "sync_service/ntp_server/card_clock_fit.h"

#include <cmath>
#include <cstdlib>

namespace qxr::ntp {

CardClockFit::AddResult CardClockFit::Add(int64_t counter, int64_t cardTime) {
    int64_t predicted = 0;
    if (count_ > 0) {
        const int newest = (next_ + kReadings - 1) % kReadings;
        const int oldest = count_ < kReadings ? 0 : next_;
        // A short RampDuration can read the same latch twice: nothing new, and no reason
        // to start again.
        if (counter == counters_[newest]) return kRepeated;
        int64_t off = 0, span = 0;
        // Every counter of the fit must lie within an int64_t of every other.
        if (counter <= counters_[newest] ||
            __builtin_sub_overflow(counter, counters_[oldest], &span) ||
            !TimeAt(counter, &predicted) || __builtin_sub_overflow(predicted, cardTime, &off) ||
            std::llabs(off) > kRestartTicks) {
            count_ = 0;
        }
    }
    const bool restarted = count_ == 0;
    if (restarted) next_ = 0;
    counters_[next_] = counter;
    times_[next_] = cardTime;
    next_ = (next_ + 1) % kReadings;
    if (count_ < kReadings) ++count_;
    Refit();
    return restarted ? kRestarted : kAdded;
}

void CardClockFit::Refit() {
    // Relative to the newest reading, so that doubles keep every 100-ns unit.
    const int newest = (next_ + kReadings - 1) % kReadings;
    originCounter_ = counters_[newest];
    originTime_ = times_[newest];
    const double nominal = frequency_ > 0 ? 1e7 / static_cast<double>(frequency_) : 0;
    maxResidual_ = 0;
    if (__builtin_sub_overflow(times_[newest], times_[count_ < kReadings ? 0 : next_], &span_))
        span_ = 0;
    if (count_ < 2) {
        offset_ = 0;
        slope_ = nominal;
        return;
    }
    double sx = 0, sy = 0;
    for (int i = 0; i < count_; ++i) {
        sx += static_cast<double>(counters_[i] - originCounter_);  // increasing: no overflow
        sy += static_cast<double>(times_[i] - originTime_);
    }
    const double mx = sx / count_, my = sy / count_;
    double sxx = 0, sxy = 0;
    for (int i = 0; i < count_; ++i) {
        const double dx = static_cast<double>(counters_[i] - originCounter_) - mx;
        const double dy = static_cast<double>(times_[i] - originTime_) - my;
        sxx += dx * dx;
        sxy += dx * dy;
    }
    slope_ = sxx > 0 ? sxy / sxx : nominal;
    // Readings close together say little about the rate: keep the nominal one then.
    if (nominal > 0 && std::fabs(slope_ / nominal - 1) > 1e-3) slope_ = nominal;
    offset_ = my - slope_ * mx;
    double worst = 0;
    for (int i = 0; i < count_; ++i) {
        const double dx = static_cast<double>(counters_[i] - originCounter_);
        const double dy = static_cast<double>(times_[i] - originTime_);
        worst = std::fmax(worst, std::fabs(dy - (offset_ + slope_ * dx)));
    }
    maxResidual_ = static_cast<int64_t>(std::ceil(worst));
}

bool CardClockFit::TimeAt(int64_t counter, int64_t* cardTime) const {
    if (count_ == 0) return false;
    int64_t difference = 0;
    if (__builtin_sub_overflow(counter, originCounter_, &difference)) return false;
    const double dx = static_cast<double>(difference);
    const double ticks = offset_ + slope_ * dx;
    if (!(std::fabs(ticks) < kMaxReach)) return false;
    return !__builtin_add_overflow(originTime_, static_cast<int64_t>(std::llround(ticks)),
                                   cardTime);
}

}  // namespace qxr::ntp
