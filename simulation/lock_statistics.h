// Figures of merit of a synchronization run: when the system clock locked to the card (stayed
// within the lock bound from then on), and how well it held after that. Streaming, so a run of
// weeks needs no sample storage.
#pragma once

#include <cstdint>

namespace qxr::simulation {

struct LockSummary {
    bool locked = false;    // within the bound at the end of the run
    double lockTimeS = 0;   // first instant from which the offset stayed within the bound
    double maxAbsMs = 0;    // largest |offset| after lock
    double rmsMs = 0;       // RMS offset after lock
    double learnedPpm = 0;  // mean rate correction the engine applied after lock (ppm)
    uint64_t samplesAfterLock = 0;
};

class LockStatistics {
  public:
    explicit LockStatistics(double lockBoundMs) : boundMs_(lockBoundMs) {}

    // offsetMs: system clock minus card as a reader sees it. For the learned rate: the system
    // time (100-ns units) and the number of clock interrupts so far, and the nominal tick; the
    // mean per-tick adjustment after lock is their ratio.
    void Add(double timeS, double offsetMs, int64_t systemTime, uint64_t interrupts,
             uint32_t increment);
    LockSummary Summarize() const;
    double BoundMs() const { return boundMs_; }

  private:
    double boundMs_;
    bool inside_ = false;
    double since_ = 0;
    double maxAbs_ = 0;
    double sumSquares_ = 0;
    uint64_t count_ = 0;
    int64_t lockSystem_ = 0, lastSystem_ = 0;
    uint64_t lockInterrupts_ = 0, lastInterrupts_ = 0;
    uint32_t increment_ = 0;
};

}  // namespace qxr::simulation
