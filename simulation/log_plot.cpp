#include "simulation/log_plot.h"

#include <fstream>

#include "simulation/tracking_log_reader.h"

namespace qxr::simulation {

PlotInput TrackingPlotInput(const std::vector<sync::TrackingRecord>& records,
                            const std::string& name) {
    PlotInput plot;
    if (records.empty()) return plot;
    const int64_t origin = records.front().cardTime;
    char first[32] = "?";
    sync::FormatIsoTime(origin, first, sizeof first);
    plot.title = "QxrSync tracking log " + name + ": system clock against the card";
    plot.timeLabel = std::string("time since ") + first;
    // Time along the log, across jumps of the card or the system clock.
    std::vector<double> times(records.size(), 0.0);
    int64_t interval = 0;
    for (size_t i = 1; i < records.size(); ++i) {
        interval = ElapsedBetween(records[i - 1], records[i], interval);
        times[i] = times[i - 1] + static_cast<double>(interval) / 1e7;
    }
    PlotThinner thinner(times.back());
    int32_t reference = -1;
    size_t stepRun = 0;  // index + 1 of the mark of the current run of steps; 0 = none
    int stepCount = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const sync::TrackingRecord& r = records[i];
        const double t = times[i];
        thinner.Add(t, r.offsetMs);
        if (r.reference != reference) {
            // Coloured as event 108 would be: GPS information, the others warnings.
            const int type = r.reference == 1 ? 4 : 2;
            plot.events.push_back({t, 108, type, sync::TrackingReferenceName(r.reference)});
            reference = r.reference;
        }
        // A run of steps (a clock that will not stay set) is one mark, labelled with its count.
        if (r.action != sync::TrackingAction::kStep) {
            stepRun = 0;
        } else if (stepRun == 0) {
            plot.events.push_back({t, 0, kStepMark, "step"});
            stepRun = plot.events.size();
            stepCount = 1;
        } else {
            plot.events[stepRun - 1].label = std::to_string(++stepCount) + " steps";
        }
    }
    plot.offsets = thinner.Take();
    plot.lockBoundMs = 2 * records.back().increment / 1e4;
    return plot;
}

int PlotTrackingLog(const std::string& logPath, const std::string& plotPath, std::ostream& out) {
    std::ifstream in(logPath, std::ios::binary);
    if (!in) {
        out << "qxrsim: cannot read " << logPath << "\n";
        return 1;
    }
    std::vector<sync::TrackingRecord> records;
    std::string error;
    bool lastLineCut = false;
    if (!ReadTrackingLog(in, &records, &error, &lastLineCut)) {
        out << "qxrsim: " << logPath << ": " << error << "\n";
        return 1;
    }
    if (records.empty()) {
        out << "qxrsim: " << logPath << ": no corrections in the log\n";
        return 1;
    }
    TrackingSummary summary;
    for (const sync::TrackingRecord& r : records) summary.Add(r);
    char first[32] = "?", last[32] = "?";
    sync::FormatIsoTime(records.front().cardTime, first, sizeof first);
    sync::FormatIsoTime(records.back().cardTime, last, sizeof last);
    out << "qxrsim: tracking log " << logPath << ", " << first << " to " << last << "\n";
    if (lastLineCut) out << "  (its last line is cut short and left out)\n";
    PrintTrackingFigures(summary.Figures(), out);
    if (plotPath.empty()) return 0;
    const std::string name = logPath.substr(logPath.find_last_of("/\\") + 1);
    if (!WriteOffsetPlot(TrackingPlotInput(records, name), plotPath, &error)) {
        out << "qxrsim: " << error << "\n";
        return 1;
    }
    out << "  plot written to " << plotPath << "\n";
    return 0;
}

}  // namespace qxr::simulation
