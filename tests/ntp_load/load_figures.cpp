#include "tests/ntp_load/load_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace qxr::ntpload {

double Quantile(std::vector<int64_t>* values, double q) {
    if (values->empty()) return 0;
    // Nearest rank: the smallest value with at least q of the values at or below it.
    const double rank = std::ceil(q * static_cast<double>(values->size()));
    size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    index = std::min(index, values->size() - 1);
    std::nth_element(values->begin(), values->begin() + static_cast<std::ptrdiff_t>(index),
                     values->end());
    return static_cast<double>((*values)[index]);
}

StepFigures SummarizeStep(int rate, int64_t sent, std::vector<int64_t> latencies_ns,
                          int64_t skipped) {
    StepFigures f;
    f.rate = rate;
    f.sent = sent;
    f.skipped = skipped;
    f.answered = static_cast<int64_t>(latencies_ns.size());
    f.loss_pct = sent > 0
                     ? 100.0 * static_cast<double>(sent - f.answered) / static_cast<double>(sent)
                     : 100.0;
    f.median_us = Quantile(&latencies_ns, 0.5) / 1000.0;
    f.p99_us = Quantile(&latencies_ns, 0.99) / 1000.0;
    return f;
}

bool IsClean(const StepFigures& s, double max_loss_pct, double max_skip_pct) {
    if (s.sent <= 0 || s.loss_pct >= max_loss_pct) return false;
    const double skip_pct =
        100.0 * static_cast<double>(s.skipped) / static_cast<double>(s.sent + s.skipped);
    return skip_pct < max_skip_pct;
}

int HighestCleanRate(const std::vector<StepFigures>& steps, double max_loss_pct,
                     double max_skip_pct) {
    int best = 0;
    for (const StepFigures& s : steps) {
        if (IsClean(s, max_loss_pct, max_skip_pct)) best = std::max(best, s.rate);
    }
    return best;
}

int NextRefineRate(const std::vector<StepFigures>& steps, double max_loss_pct, double max_skip_pct,
                   double min_gap_pct) {
    const int clean = HighestCleanRate(steps, max_loss_pct, max_skip_pct);
    if (clean == 0) return 0;
    int lossy = 0;
    for (const StepFigures& s : steps) {
        // Above the clean rate every step is lossy or was not offered: either bounds the gap.
        if (s.rate > clean && (lossy == 0 || s.rate < lossy)) lossy = s.rate;
    }
    if (lossy == 0 || lossy - clean <= clean * min_gap_pct / 100.0) return 0;
    return clean + (lossy - clean) / 2;
}

PaceDecision Pace(int64_t elapsed_ns, double interval_ns, int64_t next, int64_t total,
                  int64_t max_late_ns, int64_t max_burst) {
    PaceDecision d;
    if (elapsed_ns < 0 || next >= total) return d;
    // Due: every i with i * interval <= elapsed. Too late: every i with i * interval earlier
    // than elapsed - max_late.
    const int64_t due = std::min<int64_t>(
        total, static_cast<int64_t>(std::floor(static_cast<double>(elapsed_ns) / interval_ns)) + 1);
    const int64_t late_ns = elapsed_ns - max_late_ns;
    const int64_t too_late =
        late_ns <= 0 ? 0
                     : std::min<int64_t>(total, static_cast<int64_t>(std::ceil(
                                                    static_cast<double>(late_ns) / interval_ns)));
    d.skip = std::max<int64_t>(0, too_late - next);
    d.send = std::min(max_burst, std::max<int64_t>(0, due - std::max(next, too_late)));
    return d;
}

bool ParseUdpRcvbufErrors(const std::string& snmp, int64_t* errors) {
    // Two "Udp:" lines: the field names, then their values.
    std::istringstream lines(snmp);
    std::string line, names;
    while (std::getline(lines, line)) {
        if (line.rfind("Udp: ", 0) != 0) continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string name, value;
        while (n >> name && v >> value) {
            if (name != "RcvbufErrors") continue;
            char* end = nullptr;
            const long long parsed = std::strtoll(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0') return false;
            *errors = parsed;
            return true;
        }
        return false;
    }
    return false;
}

}  // namespace qxr::ntpload
