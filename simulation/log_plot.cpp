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
    const double spanS = static_cast<double>(records.back().cardTime - origin) / 1e7;
    PlotThinner thinner(spanS);
    int32_t reference = -1;
    for (const sync::TrackingRecord& r : records) {
        const double t = static_cast<double>(r.cardTime - origin) / 1e7;
        thinner.Add(t, r.offsetMs);
        if (r.reference != reference) {
            // Coloured as event 108 would be: GPS information, the others warnings.
            const int type = r.reference == 1 ? 4 : 2;
            plot.events.push_back({t, 108, type, sync::TrackingReferenceName(r.reference)});
            reference = r.reference;
        }
        if (r.action == sync::TrackingAction::kStep) plot.events.push_back({t, 0, kStepMark, ""});
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
