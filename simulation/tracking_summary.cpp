#include "simulation/tracking_summary.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qxr::simulation {

namespace {

int64_t WholeMs(int64_t fileTime) {
    return fileTime >= 0 ? fileTime / 10000 : -((-fileTime + 9999) / 10000);
}

}  // namespace

int64_t ElapsedBetween(const sync::TrackingRecord& before, const sync::TrackingRecord& after,
                       int64_t usual) {
    const int64_t card = after.cardTime - before.cardTime;
    const int64_t system = after.systemTime - before.systemTime;
    auto distance = [](int64_t a, int64_t b) { return a > b ? a - b : b - a; };
    int64_t elapsed = card;
    if (distance(card, system) > 10000000 &&
        (card < 0 || (system >= 0 && distance(system, usual) < distance(card, usual)))) {
        elapsed = system;
    }
    return elapsed > 0 ? elapsed : 0;
}

void TrackingSummary::Add(const sync::TrackingRecord& exact) {
    // To the millisecond, as the log holds the times.
    sync::TrackingRecord record = exact;
    record.cardTime = WholeMs(exact.cardTime) * 10000;
    record.systemTime = WholeMs(exact.systemTime) * 10000;
    TrackingFigures& f = figures_;
    const int64_t cardMs = WholeMs(record.cardTime);
    if (f.corrections == 0) {
        f.firstMs = cardMs;
        f.increment = record.increment;
    } else {
        lastInterval_ = ElapsedBetween(last_, record, lastInterval_);
        f.spanMs += lastInterval_ / 10000;
        if (record.increment != f.increment) mixedIncrements_ = true;
    }
    last_ = record;
    f.lastMs = cardMs;
    ++f.corrections;
    switch (record.action) {
        case sync::TrackingAction::kStep:
            ++f.steps;
            break;
        case sync::TrackingAction::kSlew:
            ++f.slews;
            break;
        default:
            ++f.declined;
            break;
    }
    const int64_t magnitude = std::llabs(int64_t{record.offsetMs});
    if (magnitude > f.maxAbsOffsetMs) f.maxAbsOffsetMs = static_cast<int32_t>(magnitude);
    sumSquares_ += static_cast<double>(record.offsetMs) * record.offsetMs;
    sumAdjustment_ += record.adjustment;
    if (record.increment != 0) {
        sumPpm_ +=
            (static_cast<double>(record.adjustment) - record.increment) / record.increment * 1e6;
    }
}

TrackingFigures TrackingSummary::Figures() const {
    TrackingFigures f = figures_;
    if (f.corrections == 0) return f;
    f.rmsOffsetMs = std::sqrt(sumSquares_ / f.corrections);
    f.meanAdjustment = sumAdjustment_ / f.corrections;
    f.ratePpm = sumPpm_ / f.corrections;
    if (mixedIncrements_) f.increment = 0;
    return f;
}

void PrintTrackingFigures(const TrackingFigures& f, std::ostream& out) {
    char line[256];
    const int64_t spanMs = f.spanMs;
    std::snprintf(
        line, sizeof line, "  span %lld d %02lld:%02lld:%02lld.%03lld\n",
        static_cast<long long>(spanMs / 86400000), static_cast<long long>(spanMs / 3600000 % 24),
        static_cast<long long>(spanMs / 60000 % 60), static_cast<long long>(spanMs / 1000 % 60),
        static_cast<long long>(spanMs % 1000));
    out << line;
    std::snprintf(line, sizeof line, "  corrections %d: %d steps, %d slews, %d not made\n",
                  f.corrections, f.steps, f.slews, f.declined);
    out << line;
    std::snprintf(line, sizeof line, "  offset: max |offset| %d ms, RMS %.3f ms\n",
                  static_cast<int>(f.maxAbsOffsetMs), f.rmsOffsetMs);
    out << line;
    if (f.increment != 0) {
        std::snprintf(line, sizeof line,
                      "  mean adjustment %.3f per tick against the nominal %u: %+.3f ppm\n",
                      f.meanAdjustment, f.increment, f.ratePpm);
    } else {
        std::snprintf(line, sizeof line, "  mean adjustment %+.3f ppm against the nominal\n",
                      f.ratePpm);
    }
    out << line;
}

}  // namespace qxr::simulation
