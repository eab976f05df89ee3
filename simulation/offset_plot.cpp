#include "simulation/offset_plot.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qxr::simulation {

namespace {

// Colour map 0 entries set up below.
enum Colour {
    kBackground = 0,
    kAxes = 1,
    kOffset = 2,
    kBound = 3,
    kInfo = 4,
    kWarning = 5,
    kError = 6,
    kPopup = 7
};

struct TimeAxis {
    double scale;  // seconds per unit
    const char* label;
};

TimeAxis ChooseTimeAxis(double spanS) {
    if (spanS > 3 * 86400) return {86400, "virtual time (days)"};
    if (spanS > 3 * 3600) return {3600, "virtual time (hours)"};
    if (spanS > 300) return {60, "virtual time (minutes)"};
    return {1, "virtual time (s)"};
}

Colour EventColour(int type) {
    switch (type) {
        case 1:
            return kError;
        case 2:
            return kWarning;
        case 0:
            return kPopup;
        default:
            return kInfo;
    }
}

void DrawPanel(const PlotInput& input, const std::vector<PLFLT>& xs, const std::vector<PLFLT>& ys,
               const TimeAxis& axis, double t0, double t1, double yMin, double yMax, double pad,
               const std::string& title, bool labelEvents) {
    pladv(0);
    plvpor(0.1, 0.95, 0.15, 0.88);
    plwind(t0 / axis.scale, t1 / axis.scale, yMin, yMax);
    plcol0(kAxes);
    plbox("bcgnst", 0, 0, "bcgnstv", 0, 0);
    pllab(axis.label, "system minus card (ms)", title.c_str());

    if (input.lockBoundMs > 0) {
        plcol0(kBound);
        pllsty(2);
        for (double level : {-input.lockBoundMs, input.lockBoundMs}) {
            PLFLT bx[2] = {t0 / axis.scale, t1 / axis.scale};
            PLFLT by[2] = {level, level};
            plline(2, bx, by);
        }
        pllsty(1);
    }

    // Events: a vertical line each, labelled with the event id in the upper panel.
    plschr(0, 0.6);
    for (const PlotEvent& e : input.events) {
        const PLFLT x = e.timeS / axis.scale;
        PLFLT ex[2] = {x, x};
        PLFLT ey[2] = {yMin, yMax};
        plcol0(EventColour(e.type));
        pllsty(3);
        plline(2, ex, ey);
        pllsty(1);
        if (labelEvents) {
            char label[16];
            std::snprintf(label, sizeof label, e.type == 0 ? "pop-up" : "%d", e.eventId);
            plptex(x, yMax - pad * 0.8, 0, 1, 1.1, label);
        }
    }
    plschr(0, 1.0);

    // The offset, clipped to the panel.
    plcol0(kOffset);
    plwidth(1.5);
    std::vector<PLFLT> clipped(ys.size());
    for (size_t i = 0; i < ys.size(); ++i) clipped[i] = std::clamp<PLFLT>(ys[i], yMin, yMax);
    plline(static_cast<PLINT>(xs.size()), xs.data(), clipped.data());
    plwidth(1);
}

void DrawLegend() {
    const char* texts[] = {"offset",        "lock bound",  "info event",
                           "warning event", "error event", "pop-up"};
    const Colour cs[] = {kOffset, kBound, kInfo, kWarning, kError, kPopup};
    PLINT opts[6], colours[6], styles[6];
    PLFLT widths[6];
    for (int i = 0; i < 6; ++i) {
        opts[i] = PL_LEGEND_LINE;
        colours[i] = cs[i];
        styles[i] = i == 0 ? 1 : (i == 1 ? 2 : 3);
        widths[i] = 1.5;
    }
    PLFLT legendWidth = 0, legendHeight = 0;
    plcol0(kAxes);
    pllegend(&legendWidth, &legendHeight, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_RIGHT | PL_POSITION_BOTTOM | PL_POSITION_INSIDE, 0.02, 0.02, 0.08,
             kBackground, kAxes, 1, 0, 0, 6, opts, 1.0, 0.8, 2.0, 1.0, colours, texts, nullptr,
             nullptr, nullptr, nullptr, colours, styles, widths, nullptr, nullptr, nullptr,
             nullptr);
}

}  // namespace

bool WriteOffsetPlot(const PlotInput& input, const std::string& path, std::string* error) {
    if (input.offsets.empty()) {
        *error = "nothing to plot";
        return false;
    }
    if (FILE* probe = std::fopen(path.c_str(), "w")) {
        std::fclose(probe);
    } else {
        *error = "cannot write " + path;
        return false;
    }

    const double t0 = input.offsets.front().timeS;
    const double t1 = std::max(input.offsets.back().timeS, t0 + 1);
    const TimeAxis axis = ChooseTimeAxis(t1 - t0);
    std::vector<PLFLT> xs, ys;
    xs.reserve(input.offsets.size());
    ys.reserve(input.offsets.size());
    double yMin = -input.lockBoundMs, yMax = input.lockBoundMs;
    for (const PlotPoint& p : input.offsets) {
        xs.push_back(p.timeS / axis.scale);
        ys.push_back(p.offsetMs);
        yMin = std::min(yMin, p.offsetMs);
        yMax = std::max(yMax, p.offsetMs);
    }
    const double pad = std::max(1.0, (yMax - yMin) * 0.08);
    yMin -= pad;
    yMax += pad * 3;  // room for the event labels at the top

    plsdev("svg");
    plsfnam(path.c_str());
    plspage(0, 0, 1200, 900, 0, 0);
    plscol0(kBackground, 255, 255, 255);
    plscol0(kAxes, 0, 0, 0);
    plscol0(kOffset, 31, 119, 180);
    plscol0(kBound, 150, 150, 150);
    plscol0(kInfo, 44, 160, 44);
    plscol0(kWarning, 255, 127, 14);
    plscol0(kError, 214, 39, 40);
    plscol0(kPopup, 148, 103, 189);
    // Two panels: the whole run, then a close-up around the lock band where the steady state
    // shows (a start offset of seconds would flatten it to a line).
    plssub(1, 2);
    plinit();
    const double zoom = input.lockBoundMs > 0 ? 3 * input.lockBoundMs : (yMax - yMin) / 4;
    DrawPanel(input, xs, ys, axis, t0, t1, yMin, yMax, pad, input.title, true);
    DrawPanel(input, xs, ys, axis, t0, t1, -zoom, zoom, zoom * 0.1, "close-up around the lock band",
              false);
    DrawLegend();
    plend();
    return true;
}

}  // namespace qxr::simulation
