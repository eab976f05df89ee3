#include "simulation/offset_plot.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

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
    kPopup = 7,
    kUtc = 8,
    kStep = 9,
    kServed = 10,
};

// The panels' horizontal extent (normalized page units); the legend sits to their right.
constexpr double kPanelLeft = 0.08;
constexpr double kPanelRight = 0.74;
constexpr double kTextScale = 0.7;                 // all text, against PLplot's default size
constexpr double kLabelScale = 0.75 * kTextScale;  // event labels
constexpr int kMaxLabelRows = 6;

struct TimeAxis {
    double scale;  // seconds per unit
    const char* unit;
};

TimeAxis ChooseTimeAxis(double spanS) {
    if (spanS > 3 * 86400) return {86400, "days"};
    if (spanS > 3 * 3600) return {3600, "hours"};
    if (spanS > 300) return {60, "minutes"};
    return {1, "s"};
}

Colour EventColour(int type) {
    switch (type) {
        case 1:
            return kError;
        case 2:
            return kWarning;
        case kPopupMark:
            return kPopup;
        case kStepMark:
            return kStep;
        default:
            return kInfo;
    }
}

std::string EventLabel(const PlotEvent& e) {
    if (!e.label.empty()) return e.label;
    if (e.type == kPopupMark) return "pop-up";
    if (e.type == kStepMark) return "step";
    return std::to_string(e.eventId);
}

struct Panel {
    double top, bottom;  // normalized page units
    double yMin, yMax;
    std::string title;
    bool labelEvents;
};

struct Series {
    std::vector<PLFLT> xs, ys;
};

Series ToSeries(const std::vector<PlotPoint>& points, const TimeAxis& axis) {
    Series s;
    for (const PlotPoint& p : points) {
        s.xs.push_back(p.timeS / axis.scale);
        s.ys.push_back(p.offsetMs);
    }
    return s;
}

void DrawSeries(const Series& s, Colour colour, PLINT style, double yMin, double yMax) {
    if (s.xs.empty()) return;
    plcol0(colour);
    pllsty(style);
    plwidth(1.5);
    std::vector<PLFLT> clipped(s.ys.size());
    for (size_t i = 0; i < s.ys.size(); ++i) clipped[i] = std::clamp<PLFLT>(s.ys[i], yMin, yMax);
    plline(static_cast<PLINT>(s.xs.size()), const_cast<PLFLT*>(s.xs.data()), clipped.data());
    plwidth(1);
    pllsty(1);
}

// Label rows over the upper panel: in world units of that panel's x axis.
struct LabelLayout {
    std::vector<int> rows;
    int rowCount = 0;
};

LabelLayout LayOutLabels(const PlotInput& input, const TimeAxis& axis, double t0, double t1) {
    // Widths from the character height in mm (a character is taken as 0.8 of its height wide:
    // the widest of the fonts PLplot uses) against the panel's width in mm.
    PLFLT xMinMm, xMaxMm, yMinMm, yMaxMm;
    plgspa(&xMinMm, &xMaxMm, &yMinMm, &yMaxMm);
    const double panelMm = (xMaxMm - xMinMm) * (kPanelRight - kPanelLeft);
    const double unitsPerMm = (t1 - t0) / axis.scale / std::max(panelMm, 1.0);
    std::vector<double> starts, widths;
    plschr(0, kLabelScale);
    PLFLT defaultMm = 0, heightMm = 0;
    plgchr(&defaultMm, &heightMm);
    plschr(0, kTextScale);
    for (const PlotEvent& e : input.events) {
        starts.push_back(e.timeS / axis.scale);
        widths.push_back(static_cast<double>(EventLabel(e).size()) * 0.8 * heightMm * unitsPerMm);
    }
    LabelLayout layout;
    layout.rows = StackLabels(starts, widths, 1.5 * unitsPerMm, &layout.rowCount);
    return layout;
}

void DrawPanel(const PlotInput& input, const Series& offsets, const Series& utc,
               const Series& served, const TimeAxis& axis, double t0, double t1, const Panel& panel,
               const LabelLayout& labels, double labelRowHeight) {
    plvpor(kPanelLeft, kPanelRight, panel.bottom, panel.top);
    plwind(t0 / axis.scale, t1 / axis.scale, panel.yMin, panel.yMax);
    plcol0(kAxes);
    plbox("bcgnst", 0, 0, "bcgnstv", 0, 0);
    const std::string xLabel = input.timeLabel + " (" + axis.unit + ")";
    pllab(xLabel.c_str(), "offset (ms)", panel.title.c_str());

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

    plschr(0, kLabelScale);
    for (size_t i = 0; i < input.events.size(); ++i) {
        const PlotEvent& e = input.events[i];
        const PLFLT x = e.timeS / axis.scale;
        PLFLT ex[2] = {x, x};
        PLFLT ey[2] = {panel.yMin, panel.yMax};
        plcol0(EventColour(e.type));
        pllsty(3);
        plline(2, ex, ey);
        pllsty(1);
        if (panel.labelEvents) {
            // Left-aligned just right of the line, one row per overlap, from the top down.
            const int row = std::min(labels.rows[i], kMaxLabelRows - 1);
            const double y = panel.yMax - labelRowHeight * (row + 0.8);
            plptex(x, y, 1, 0, -0.05, EventLabel(e).c_str());
        }
    }
    plschr(0, kTextScale);

    // True UTC first, dashed, so that the card's line stays visible where the two agree.
    DrawSeries(utc, kUtc, 2, panel.yMin, panel.yMax);
    DrawSeries(offsets, kOffset, 1, panel.yMin, panel.yMax);
    DrawSeries(served, kServed, 1, panel.yMin, panel.yMax);
}

void DrawLegend(bool withUtc, bool withServed, double top) {
    std::vector<const char*> texts = {"system minus card"};
    std::vector<PLINT> colours = {kOffset}, styles = {1};
    if (withUtc) {
        texts.push_back("system minus true UTC");
        colours.push_back(kUtc);
        styles.push_back(2);
    }
    if (withServed) {
        texts.push_back("NTP served minus true UTC");
        colours.push_back(kServed);
        styles.push_back(1);
    }
    const std::pair<const char*, Colour> rest[] = {{"lock bound", kBound}, {"information", kInfo},
                                                   {"warning", kWarning},  {"error", kError},
                                                   {"pop-up", kPopup},     {"clock step", kStep}};
    for (const auto& [text, colour] : rest) {
        texts.push_back(text);
        colours.push_back(colour);
        styles.push_back(colour == kBound ? 2 : 3);
    }
    const PLINT n = static_cast<PLINT>(texts.size());
    std::vector<PLINT> opts(n, PL_LEGEND_LINE);
    std::vector<PLFLT> widths(n, 1.5);
    // In the margin right of the panels: it can never cover the data.
    plvpor(kPanelRight + 0.01, 0.99, top - 0.3, top);
    plwind(0, 1, 0, 1);
    PLFLT legendWidth = 0, legendHeight = 0;
    plcol0(kAxes);
    pllegend(&legendWidth, &legendHeight, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_LEFT | PL_POSITION_TOP | PL_POSITION_INSIDE, 0.0, 0.0, 0.15, kBackground,
             kAxes, 1, 0, 0, n, opts.data(), 0.5, 0.6, 2.0, 0.0, colours.data(), texts.data(),
             nullptr, nullptr, nullptr, nullptr, colours.data(), styles.data(), widths.data(),
             nullptr, nullptr, nullptr, nullptr);
}

void Extend(const std::vector<PlotPoint>& points, double* lo, double* hi) {
    for (const PlotPoint& p : points) {
        *lo = std::min(*lo, p.offsetMs);
        *hi = std::max(*hi, p.offsetMs);
    }
}

}  // namespace

std::vector<int> StackLabels(const std::vector<double>& starts, const std::vector<double>& widths,
                             double gap, int* rows) {
    std::vector<size_t> order(starts.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return starts[a] < starts[b]; });
    std::vector<int> row(starts.size(), 0);
    std::vector<double> rowEnd;  // where each row's last label ends
    for (size_t i : order) {
        size_t r = 0;
        while (r < rowEnd.size() && starts[i] < rowEnd[r] + gap) ++r;
        if (r == rowEnd.size()) rowEnd.push_back(0);
        rowEnd[r] = starts[i] + widths[i];
        row[i] = static_cast<int>(r);
    }
    *rows = static_cast<int>(rowEnd.size());
    return row;
}

PlotThinner::PlotThinner(double durationS) : width_(std::max(durationS / kBuckets, 0.5)) {}

void PlotThinner::Add(double t, double offsetMs) {
    const auto bucket = static_cast<int64_t>(t / width_);
    if (bucket != bucket_) Flush(), bucket_ = bucket, lo_ = hi_ = {t, offsetMs};
    if (offsetMs < lo_.offsetMs) lo_ = {t, offsetMs};
    if (offsetMs > hi_.offsetMs) hi_ = {t, offsetMs};
}

std::vector<PlotPoint> PlotThinner::Take() {
    Flush();
    return std::move(points_);
}

void PlotThinner::Flush() {
    if (bucket_ < 0) return;
    if (lo_.timeS <= hi_.timeS) {
        points_.push_back(lo_);
        if (hi_.timeS != lo_.timeS) points_.push_back(hi_);
    } else {
        points_.push_back(hi_);
        points_.push_back(lo_);
    }
    bucket_ = -1;
}

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
    const Series offsets = ToSeries(input.offsets, axis);
    const Series utc = ToSeries(input.utcOffsets, axis);
    const Series served = ToSeries(input.servedOffsets, axis);
    double dataMin = -input.lockBoundMs, dataMax = input.lockBoundMs;
    Extend(input.offsets, &dataMin, &dataMax);
    Extend(input.utcOffsets, &dataMin, &dataMax);
    Extend(input.servedOffsets, &dataMin, &dataMax);
    const double pad = std::max(1.0, (dataMax - dataMin) * 0.08);

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
    plscol0(kUtc, 23, 190, 207);
    plscol0(kStep, 140, 86, 75);
    plscol0(kServed, 227, 119, 194);
    plinit();
    pladv(0);
    plschr(0, kTextScale);

    // Room above the data for the label rows: each row takes a fixed share of the panel.
    const LabelLayout labels = LayOutLabels(input, axis, t0, t1);
    const int rows = std::min(labels.rowCount, kMaxLabelRows);
    const double rowShare = 0.055;
    const double labelShare = rows * rowShare;
    Panel upper{0.94, 0.56, dataMin - pad, dataMax + pad, input.title, true};
    const double span = upper.yMax - upper.yMin;
    upper.yMax += span * labelShare / (1 - labelShare);
    const double rowHeight = (upper.yMax - upper.yMin) * rowShare;
    // Below: a close-up around the lock band where the steady state shows (a start offset of
    // seconds would flatten it to a line).
    const double zoom = input.lockBoundMs > 0 ? 3 * input.lockBoundMs : (dataMax - dataMin) / 4;
    const Panel lower{0.44, 0.08, -zoom, zoom, "close-up around the lock band", false};
    DrawPanel(input, offsets, utc, served, axis, t0, t1, upper, labels, rowHeight);
    DrawPanel(input, offsets, utc, served, axis, t0, t1, lower, labels, rowHeight);
    DrawLegend(!input.utcOffsets.empty(), !input.servedOffsets.empty(), 0.94);
    plend();
    return true;
}

}  // namespace qxr::simulation
