// The offset-over-time chart of a run, written as SVG through PLplot.
#pragma once

#include <string>
#include <vector>

namespace qxr::simulation {

struct PlotPoint {
    double timeS;
    double offsetMs;
};

struct PlotEvent {
    double timeS;
    int eventId;
    int type;  // EVENTLOG_*_TYPE: 1 error, 2 warning, 4 information; 0 = a pop-up
};

struct PlotInput {
    std::string title;
    std::vector<PlotPoint> offsets;  // already thinned to a few thousand points
    std::vector<PlotEvent> events;
    double lockBoundMs = 0;
};

// Writes the chart to `path`; false with a reason in `error` when it cannot.
bool WriteOffsetPlot(const PlotInput& input, const std::string& path, std::string* error);

}  // namespace qxr::simulation
