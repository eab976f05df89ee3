// The card's time as a straight line over the performance counter, fitted by least squares
// through the newest readings: each reading's time has the card's millisecond resolution,
// which the fit averages out. A reading far off the line (the card set, its clock corrected
// when GPS came back) starts the fit anew; the same latch read twice is skipped.
#pragma once

#include <cstdint>

namespace qxr::ntp {

class CardClockFit {
  public:
    static constexpr int kReadings = 64;
    // A reading this far (100-ns units) off the line starts a new fit.
    static constexpr int64_t kRestartTicks = 20000;  // 2 ms
    // TimeAt answers only within this many 100-ns units (about 30 years) of the readings.
    static constexpr double kMaxReach = 1e16;

    enum AddResult { kAdded, kRestarted, kRepeated };

    // `frequency`: counts per second of the counter (the slope until two readings exist).
    explicit CardClockFit(int64_t frequency = 0) : frequency_(frequency) {}

    void SetFrequency(int64_t frequency) { frequency_ = frequency; }
    // One reading: the card's time (FILETIME count) at counter value `counter`. kRestarted
    // when it starts a new line (the first reading, or one off the line); kRepeated (and
    // nothing changes) when it has the newest reading's counter: the same latch read again.
    AddResult Add(int64_t counter, int64_t cardTime);
    void Reset() { count_ = 0; }
    bool Empty() const { return count_ == 0; }
    int Count() const { return count_; }
    // The card's time at `counter`; false before the first reading.
    bool TimeAt(int64_t counter, int64_t* cardTime) const;
    // The largest distance of a reading from the line (100-ns units).
    int64_t MaxResidual() const { return maxResidual_; }
    // Card time from the oldest to the newest reading (100-ns units).
    int64_t Span() const { return span_; }

  private:
    void Refit();

    int64_t frequency_;
    int64_t counters_[kReadings] = {};
    int64_t times_[kReadings] = {};
    int count_ = 0;
    int next_ = 0;
    // The line: time = originTime + offset + slope * (counter - originCounter).
    int64_t originCounter_ = 0;
    int64_t originTime_ = 0;
    double offset_ = 0;
    double slope_ = 0;  // 100-ns units per count
    int64_t maxResidual_ = 0;
    int64_t span_ = 0;
};

}  // namespace qxr::ntp
