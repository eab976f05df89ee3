#include "perf_counters/counter_table.h"

#include "perf_counters/perf_data.h"
#include "perf_counters/qxrperf.h"

namespace qxr::perf {

namespace {

constexpr uint32_t kRaw = kPerfCounterRawcount;
constexpr uint32_t kLarge = kPerfCounterLargeRawcount;
constexpr uint32_t kRate = kPerfCounterCounter;

uint64_t SecondsSinceGps(const CounterValues& v, uint32_t now) {
    // Tick arithmetic wraps, as the tick counter does.
    return v.serviceRunning != 0 ? (now - v.gpsTick) / 1000u : 0;
}

}  // namespace

// clang-format off
const CounterDefinition kCounters[kCounterCount] = {
    {QXR_SERVICE_RUNNING, kRaw, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.serviceRunning; }},
    {QXR_REFERENCE_STATE, kRaw, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.referenceState; }},
    {QXR_SECONDS_SINCE_GPS, kRaw, 0, SecondsSinceGps},
    {QXR_OFFSET_US, kLarge, -3, [](const CounterValues& v, uint32_t) -> uint64_t { return v.offsetUs; }},
    {QXR_SYSTEM_AHEAD, kRaw, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.systemAhead; }},
    {QXR_RATE_CORRECTION_PPB, kRaw, -3, [](const CounterValues& v, uint32_t) -> uint64_t { return v.rateCorrectionPpb; }},
    {QXR_RATE_FASTER, kRaw, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.rateFaster; }},
    {QXR_CORRECTIONS, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.corrections; }},
    {QXR_STEPS, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.steps; }},
    {QXR_CARD_READ_FAILURES, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.cardReadFailures; }},
    {QXR_NTP_INCOMING, kRate, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpIncoming; }},
    {QXR_NTP_OUTGOING, kRate, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpOutgoing; }},
    {QXR_NTP_MALFORMED, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpMalformed; }},
    {QXR_NTP_REFUSED, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpRefused; }},
    {QXR_NTP_RATE_LIMITED, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpLimited; }},
    {QXR_NTP_SYNCHRONISED, kRaw, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpSynchronised; }},
    {QXR_NTP_ROOT_DISPERSION, kRaw, -3, [](const CounterValues& v, uint32_t) -> uint64_t { return v.ntpRootDispersionUs; }},
    {QXR_TRACKING_DROPPED, kLarge, 0, [](const CounterValues& v, uint32_t) -> uint64_t { return v.trackingLinesDropped; }},
};
// clang-format on

}  // namespace qxr::perf
