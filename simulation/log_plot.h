// qxrsim --plot-log: a real machine's tracking log summarized and plotted like a simulated
// run, with its reference changes and clock steps marked.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "simulation/offset_plot.h"
#include "simulation/tracking_summary.h"
#include "sync_service/tracking_record.h"

namespace qxr::simulation {

// The plot of a log's records: offsets against the card's time since the first line, a mark
// at each change of reference (named) and at each step, and the lock bound of two ticks.
PlotInput TrackingPlotInput(const std::vector<sync::TrackingRecord>& records,
                            const std::string& name);

// Reads `logPath`, prints its summary to `out` and, when `plotPath` is not empty, writes the
// plot. Returns the exit code: 0, or 1 with a one-line reason printed.
int PlotTrackingLog(const std::string& logPath, const std::string& plotPath, std::ostream& out);

}  // namespace qxr::simulation
