// The figures of a load run: per offered rate the answered share and the reply latencies, and
// over the run the highest rate answered with (almost) no loss; the generator's pacing and
// the next rate to try between a clean and a lossy one. Plain code, tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxr::ntpload {

struct StepFigures {
    int rate = 0;           // requests per second offered
    int64_t sent = 0;       // requests that left the generator
    int64_t answered = 0;   // distinct valid replies
    int64_t skipped = 0;    // requests never sent: the generator itself fell behind
    double loss_pct = 100;  // share of sent requests never answered
    double median_us = 0;   // reply latency, microseconds
    double p99_us = 0;
};

// Value at fraction q (0..1) of the sorted values, nearest rank; 0 for no values. The
// vector is reordered.
double Quantile(std::vector<int64_t>* values, double q);

// A step's figures from what was sent and skipped and the latencies (ns) of the replies.
StepFigures SummarizeStep(int rate, int64_t sent, std::vector<int64_t> latencies_ns,
                          int64_t skipped = 0);

// A step counts when something was sent, its loss stayed under max_loss_pct and the generator
// skipped under max_skip_pct of its requests (else the rate was not really offered).
bool IsClean(const StepFigures& step, double max_loss_pct, double max_skip_pct);

// The highest offered rate of a clean step; 0 when none was.
int HighestCleanRate(const std::vector<StepFigures>& steps, double max_loss_pct,
                     double max_skip_pct);

// The rate to try next when refining: halfway between the highest clean rate and the lowest
// rate tried above it (lossy, or not offered: the generator skipped too much, so nothing can
// be learnt there either); 0 when there is no such pair or they are closer than min_gap_pct
// of the clean rate.
int NextRefineRate(const std::vector<StepFigures>& steps, double max_loss_pct, double max_skip_pct,
                   double min_gap_pct);

// Pacing by the clock: request i is due at i * interval_ns after the step's start. At
// elapsed_ns, with `next` the first request neither sent nor skipped of `total`, the requests
// due more than max_late_ns ago are skipped (the generator itself stalled) and of those due
// since then at most max_burst are sent now, the rest in the following sends: the overdue
// requests are spread, never sent as one burst no client makes, which would overflow the
// server's receive buffer whatever the server does.
struct PaceDecision {
    int64_t skip = 0;
    int64_t send = 0;
};
PaceDecision Pace(int64_t elapsed_ns, double interval_ns, int64_t next, int64_t total,
                  int64_t max_late_ns, int64_t max_burst);

// The host's UDP receive-buffer errors (the "Udp:" RcvbufErrors of /proc/net/snmp text);
// false when the text has no such field.
bool ParseUdpRcvbufErrors(const std::string& snmp, int64_t* errors);

}  // namespace qxr::ntpload
