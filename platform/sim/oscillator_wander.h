// The PC crystal's rate wandering as the room warms and cools: a random walk of its rate
// offset, constant over each 10 s step and changed between steps by a uniform random amount,
// so that over an hour it moves by about `ppmPerHour` (one standard deviation). Seeded, so a
// run is the same every time. The phase (the integral of the rate offset) is what the clock
// interrupt and the performance counter, both driven by the crystal, gain on true time.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace qxr::sim {

class OscillatorWander {
  public:
    static constexpr int64_t kStep = 100000000;  // 10 s, 100-ns units

    // `start`: true time at which the walk begins (rate offset 0); ppmPerHour 0 = no wander.
    OscillatorWander(int64_t start, double ppmPerHour, uint32_t seed);

    bool On() const { return sigmaPpb_ > 0; }
    // The gain on true time from `start` to `trueTime`, in 100-ns units times 10^9 (0 before
    // the start, and always 0 without wander).
    __int128 Phase(int64_t trueTime) const;
    // The rate offset at `trueTime`, in parts per billion.
    int64_t RatePpb(int64_t trueTime) const;
    // The smallest true time t >= start with (t - start) * baseRate + Phase(t) >= target
    // (baseRate in parts per billion of nominal, about 10^9).
    int64_t Solve(__int128 target, int64_t baseRate) const;

  private:
    struct Segment {
        __int128 phase;  // at the segment's start
        int64_t ratePpb;
    };
    // Makes sure segment `index` exists.
    void Extend(size_t index) const;
    // (t - start) * baseRate + Phase(t) at the start of segment `index`.
    __int128 ValueAt(size_t index, int64_t baseRate) const;

    int64_t start_;
    double sigmaPpb_;
    mutable std::mt19937 random_;
    mutable std::vector<Segment> segments_;
};

}  // namespace qxr::sim
