// The records a counter DLL hands perflib, with the layout of <winperf.h> (the title pointers
// are 32-bit fields in both builds), and the constants this DLL uses. Portable, so that the
// layout is built and checked natively; the DLL checks it against <winperf.h>.
#pragma once

#include <cstdint>

namespace qxr::perf {

struct PerfObjectType {
    uint32_t TotalByteLength;
    uint32_t DefinitionLength;
    uint32_t HeaderLength;
    uint32_t ObjectNameTitleIndex;
    uint32_t ObjectNameTitle;
    uint32_t ObjectHelpTitleIndex;
    uint32_t ObjectHelpTitle;
    uint32_t DetailLevel;
    uint32_t NumCounters;
    int32_t DefaultCounter;
    int32_t NumInstances;
    uint32_t CodePage;
    int64_t PerfTime;
    int64_t PerfFreq;
};
static_assert(sizeof(PerfObjectType) == 64, "PERF_OBJECT_TYPE");

struct PerfCounterDefinition {
    uint32_t ByteLength;
    uint32_t CounterNameTitleIndex;
    uint32_t CounterNameTitle;
    uint32_t CounterHelpTitleIndex;
    uint32_t CounterHelpTitle;
    int32_t DefaultScale;
    uint32_t DetailLevel;
    uint32_t CounterType;
    uint32_t CounterSize;
    uint32_t CounterOffset;
};
static_assert(sizeof(PerfCounterDefinition) == 40, "PERF_COUNTER_DEFINITION");

inline constexpr uint32_t kPerfCounterRawcount = 0x00010000;       // PERF_COUNTER_RAWCOUNT
inline constexpr uint32_t kPerfCounterLargeRawcount = 0x00010100;  // PERF_COUNTER_LARGE_RAWCOUNT
inline constexpr uint32_t kPerfCounterCounter = 0x10410400;        // PERF_COUNTER_COUNTER
inline constexpr uint32_t kPerfSizeLarge = 0x00000100;             // PERF_SIZE_LARGE
inline constexpr uint32_t kPerfDetailNovice = 100;                 // PERF_DETAIL_NOVICE
inline constexpr int32_t kPerfNoInstances = -1;                    // PERF_NO_INSTANCES

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorMoreData = 234;  // ERROR_MORE_DATA

}  // namespace qxr::perf
