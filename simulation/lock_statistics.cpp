#include "simulation/lock_statistics.h"

#include <cmath>

namespace qxr::simulation {

void LockStatistics::Add(double timeS, double offsetMs, int64_t systemTime, uint64_t interrupts,
                         uint32_t increment) {
    const double magnitude = std::fabs(offsetMs);
    if (magnitude > boundMs_) {
        inside_ = false;
        return;
    }
    if (!inside_) {
        // A new candidate lock: what happened before the last excursion does not count.
        inside_ = true;
        since_ = timeS;
        maxAbs_ = 0;
        sumSquares_ = 0;
        count_ = 0;
        lockSystem_ = systemTime;
        lockInterrupts_ = interrupts;
    }
    if (magnitude > maxAbs_) maxAbs_ = magnitude;
    sumSquares_ += offsetMs * offsetMs;
    lastSystem_ = systemTime;
    lastInterrupts_ = interrupts;
    increment_ = increment;
    ++count_;
}

LockSummary LockStatistics::Summarize() const {
    LockSummary summary;
    summary.locked = inside_;
    if (!inside_ || count_ == 0) return summary;
    summary.lockTimeS = since_;
    summary.maxAbsMs = maxAbs_;
    summary.rmsMs = std::sqrt(sumSquares_ / static_cast<double>(count_));
    if (lastInterrupts_ > lockInterrupts_ && increment_ != 0) {
        // A mean adjustment below the increment slows the clock: it corrects a positive drift.
        const double meanAdjustment = static_cast<double>(lastSystem_ - lockSystem_) /
                                      static_cast<double>(lastInterrupts_ - lockInterrupts_);
        summary.learnedPpm = (increment_ - meanAdjustment) / increment_ * 1e6;
    }
    summary.samplesAfterLock = count_;
    return summary;
}

}  // namespace qxr::simulation
