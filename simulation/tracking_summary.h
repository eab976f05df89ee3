// Figures of a tracking log: span, corrections, steps, the offset's largest magnitude and RMS,
// and the mean per-tick adjustment as a rate against the nominal increment. The same figures
// come from a simulated run's records as the service made them and from a log file read back,
// so the two can be compared; times count as the log holds them, in whole milliseconds.
#pragma once

#include <cstdint>
#include <ostream>

#include "sync_service/tracking_record.h"

namespace qxr::simulation {

struct TrackingFigures {
    int corrections = 0;
    int steps = 0;
    int slews = 0;
    int declined = 0;     // the engine made no correction (the clock was not its own)
    int64_t firstMs = 0;  // card time of the first and last line, ms since 1601
    int64_t lastMs = 0;
    int64_t spanMs = 0;  // time the log covers, across jumps of either clock
    int32_t maxAbsOffsetMs = 0;
    double rmsOffsetMs = 0;
    double meanAdjustment = 0;  // per tick, 100-ns units
    uint32_t increment = 0;     // nominal; 0 when the lines disagree
    double ratePpm = 0;         // mean of (adjustment - increment) / increment, in ppm
};

// Real time between two lines, in 100-ns units: the card's time difference, unless the card
// or the system clock jumped in between (the two then disagree by more than a second). Then
// it is the difference of the clock that did not jump, taken to be the one nearer to `usual`
// (the interval before; corrections come at a steady pace), and never negative.
int64_t ElapsedBetween(const sync::TrackingRecord& before, const sync::TrackingRecord& after,
                       int64_t usual);

class TrackingSummary {
  public:
    void Add(const sync::TrackingRecord& record);
    TrackingFigures Figures() const;

  private:
    TrackingFigures figures_;
    sync::TrackingRecord last_;
    int64_t lastInterval_ = 0;
    bool mixedIncrements_ = false;
    double sumSquares_ = 0;
    double sumAdjustment_ = 0;
    double sumPpm_ = 0;
};

// The summary lines qxrsim prints, for a run and for a log alike.
void PrintTrackingFigures(const TrackingFigures& figures, std::ostream& out);

}  // namespace qxr::simulation
