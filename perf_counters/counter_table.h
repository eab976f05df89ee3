// The counters of the object "QXR Time Service": their title offsets (qxrperf.h), types and
// how each is taken from a published record. Performance Monitor shows every counter as an
// unsigned number, so a signed quantity is shown as its magnitude beside a flag that tells
// its direction: an alert on the magnitude alone then fires on either side of the limit.
#pragma once

#include <cstdint>

#include "perf_counters/counter_record.h"

namespace qxr::perf {

struct CounterDefinition {
    uint32_t offset;  // the title offset, from qxrperf.h
    uint32_t type;    // PERF_COUNTER_RAWCOUNT, _LARGE_RAWCOUNT or _COUNTER
    int32_t scale;    // Performance Monitor's default scale (a power of 10)
    // The counter's value from a record read at tick `now`.
    uint64_t (*value)(const CounterValues& values, uint32_t now);
};

inline constexpr int kCounterCount = 18;
extern const CounterDefinition kCounters[kCounterCount];
// The counter Performance Monitor selects first.
inline constexpr int kDefaultCounter = 1;  // the reference state

}  // namespace qxr::perf
