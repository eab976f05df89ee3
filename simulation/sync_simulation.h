// One run of the synchronizer service on a simulated PC in virtual time: the real SyncService
// loop with its registry parameters, the real clock discipline engine and the real card
// library decoding the simulated card's replies.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "simulation/lock_statistics.h"
#include "simulation/ntp_clients.h"
#include "simulation/offset_plot.h"
#include "simulation/options.h"
#include "simulation/tracking_summary.h"

namespace qxr::simulation {

struct SimulationResult {
    LockSummary lock;
    double lockBoundMs = 0;
    double trueDriftPpm = 0;
    int corrections = 0;
    int steps = 0;
    int slews = 0;
    int cardDateReports = 0;  // event 119: a spell of card dates that cannot be true began
    double virtualSeconds = 0;
    double realSeconds = 0;
    std::vector<PlotEvent> events;         // event-log entries and pop-ups, in time order
    std::vector<double> correctionTimesS;  // virtual time of each card time read
    std::vector<double> stepTimesS;        // of the corrections that set the clock
    double maxAbsUtcMs = 0;                // system clock against true UTC, once on the card
    bool reachedCard = false;              // the clock came within the lock bound of the card
    double maxHoldoverMs = 0;              // the card's own clock against true UTC
    TrackingFigures tracking;              // of the tracking log's records, when written
    ErrorStats systemUtc;                  // system clock minus true UTC, once on the card
    NtpClientFigures ntp;                  // of the simulated NTP clients, when there are any
    int exitCode = 0;
};

// Runs the scenario, printing the timeline and the summary to `out`.
SimulationResult RunSimulation(const RunOptions& options, std::ostream& out);

// "d+hh:mm:ss.mmm" for a virtual time in seconds.
std::string FormatVirtualTime(double seconds);

}  // namespace qxr::simulation
