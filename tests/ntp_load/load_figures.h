// The figures of a load run: per offered rate the answered share and the reply latencies, and
// over the run the highest rate answered with (almost) no loss. Plain code, tested natively.
#pragma once

#include <cstdint>
#include <vector>

namespace qxr::ntpload {

struct StepFigures {
    int rate = 0;           // requests per second offered
    int64_t sent = 0;       // requests that left the generator
    int64_t answered = 0;   // distinct valid replies
    double loss_pct = 100;  // share of sent requests never answered
    double median_us = 0;   // reply latency, microseconds
    double p99_us = 0;
};

// Value at fraction q (0..1) of the sorted values, nearest rank; 0 for no values. The
// vector is reordered.
double Quantile(std::vector<int64_t>* values, double q);

// A step's figures from what was sent and the latencies (ns) of the replies received.
StepFigures SummarizeStep(int rate, int64_t sent, std::vector<int64_t> latencies_ns);

// The highest offered rate whose loss stayed under max_loss_pct; 0 when none did.
int HighestCleanRate(const std::vector<StepFigures>& steps, double max_loss_pct);

}  // namespace qxr::ntpload
