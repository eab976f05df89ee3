// The offset-over-time chart of a run or of a machine's tracking log, written as SVG through
// PLplot: the whole span above, a close-up around the lock band below, events marked in both
// and labelled above the upper panel, the legend beside the panels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxr::simulation {

struct PlotPoint {
    double timeS;
    double offsetMs;
};

// Marks other than event-log entries.
inline constexpr int kPopupMark = 0;
inline constexpr int kStepMark = 8;

struct PlotEvent {
    double timeS;
    int eventId;
    int type;           // EVENTLOG_*_TYPE: 1 error, 2 warning, 4 information; or a mark above
    std::string label;  // empty: the event id, or "pop-up" / "step" for a mark
};

struct PlotInput {
    std::string title;
    std::string timeLabel = "virtual time";  // the axis says this and its unit
    std::vector<PlotPoint> offsets;          // system minus card; already thinned
    std::vector<PlotPoint> utcOffsets;       // system minus true UTC, when known; thinned
    std::vector<PlotPoint> servedOffsets;    // NTP-served time minus true UTC, when served
    std::vector<PlotEvent> events;
    double lockBoundMs = 0;
};

// Writes the chart to `path`; false with a reason in `error` when it cannot.
bool WriteOffsetPlot(const PlotInput& input, const std::string& path, std::string* error);

// Keeps the smallest and the largest offset of each time bucket, so that a thinned plot
// still shows the envelope of the offset.
class PlotThinner {
  public:
    static constexpr size_t kBuckets = 2500;
    explicit PlotThinner(double durationS);
    void Add(double t, double offsetMs);
    std::vector<PlotPoint> Take();

  private:
    void Flush();
    double width_;
    int64_t bucket_ = -1;
    PlotPoint lo_{}, hi_{};
    std::vector<PlotPoint> points_;
};

// Where the event labels go: labels sorted by time fill rows from the top, each in the first
// row where it clears the labels already there by `gap`. Widths and positions in one unit.
// Returns the row of each label (input order) and the number of rows used.
std::vector<int> StackLabels(const std::vector<double>& starts, const std::vector<double>& widths,
                             double gap, int* rows);

}  // namespace qxr::simulation
