#include "platform/sim/oscillator_wander.h"

#include <cmath>

namespace qxr::sim {

namespace {
constexpr double kStepsPerHour = 36000000000.0 / OscillatorWander::kStep;
}

OscillatorWander::OscillatorWander(int64_t start, double ppmPerHour, uint32_t seed)
    : start_(start),
      // A uniform step of half-width a has a standard deviation of a / sqrt(3).
      sigmaPpb_(ppmPerHour > 0 ? ppmPerHour * 1000 / std::sqrt(kStepsPerHour) : 0),
      random_(seed) {
    segments_.push_back({0, 0});
}

void OscillatorWander::Extend(size_t index) const {
    while (segments_.size() <= index) {
        const Segment& last = segments_.back();
        // Drawn from the generator's raw output, so that every platform walks the same way.
        const double u = (static_cast<double>(random_()) + 0.5) / 4294967296.0;
        const double change = sigmaPpb_ * std::sqrt(3.0) * (2 * u - 1);
        segments_.push_back({last.phase + static_cast<__int128>(last.ratePpb) * kStep,
                             last.ratePpb + static_cast<int64_t>(std::llround(change))});
    }
}

__int128 OscillatorWander::Phase(int64_t trueTime) const {
    if (!On() || trueTime <= start_) return 0;
    const int64_t since = trueTime - start_;
    const auto index = static_cast<size_t>(since / kStep);
    Extend(index);
    const Segment& s = segments_[index];
    return s.phase +
           static_cast<__int128>(s.ratePpb) * (since - static_cast<int64_t>(index) * kStep);
}

int64_t OscillatorWander::RatePpb(int64_t trueTime) const {
    if (!On() || trueTime <= start_) return 0;
    const auto index = static_cast<size_t>((trueTime - start_) / kStep);
    Extend(index);
    return segments_[index].ratePpb;
}

__int128 OscillatorWander::ValueAt(size_t index, int64_t baseRate) const {
    Extend(index);
    return static_cast<__int128>(index) * kStep * baseRate + segments_[index].phase;
}

int64_t OscillatorWander::Solve(__int128 target, int64_t baseRate) const {
    if (target <= 0) return start_;
    // The last segment that starts below the target: found among those that exist, or by
    // walking on.
    size_t low = 0, high = segments_.size();
    if (ValueAt(high - 1, baseRate) < target) {
        low = high - 1;
        while (ValueAt(low + 1, baseRate) < target) ++low;
    } else {
        high -= 1;
        while (high - low > 1) {
            const size_t mid = (low + high) / 2;
            if (ValueAt(mid, baseRate) < target) {
                low = mid;
            } else {
                high = mid;
            }
        }
    }
    const __int128 rate = baseRate + segments_[low].ratePpb;
    const __int128 left = target - ValueAt(low, baseRate);
    return start_ + static_cast<int64_t>(low) * kStep +
           static_cast<int64_t>((left + rate - 1) / rate);
}

}  // namespace qxr::sim
