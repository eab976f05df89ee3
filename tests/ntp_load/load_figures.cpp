#include "tests/ntp_load/load_figures.h"

#include <algorithm>
#include <cmath>

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

StepFigures SummarizeStep(int rate, int64_t sent, std::vector<int64_t> latencies_ns) {
    StepFigures f;
    f.rate = rate;
    f.sent = sent;
    f.answered = static_cast<int64_t>(latencies_ns.size());
    f.loss_pct = sent > 0
                     ? 100.0 * static_cast<double>(sent - f.answered) / static_cast<double>(sent)
                     : 100.0;
    f.median_us = Quantile(&latencies_ns, 0.5) / 1000.0;
    f.p99_us = Quantile(&latencies_ns, 0.99) / 1000.0;
    return f;
}

int HighestCleanRate(const std::vector<StepFigures>& steps, double max_loss_pct) {
    int best = 0;
    for (const StepFigures& s : steps) {
        if (s.sent > 0 && s.loss_pct < max_loss_pct) best = std::max(best, s.rate);
    }
    return best;
}

}  // namespace qxr::ntpload
