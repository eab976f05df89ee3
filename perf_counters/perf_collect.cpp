#include "perf_counters/perf_collect.h"

#include <cstring>

#include "perf_counters/counter_record.h"
#include "perf_counters/counter_table.h"
#include "perf_counters/perf_data.h"
#include "perf_counters/perf_query.h"

namespace qxr::perf {

namespace {

// The counter block: its length word, padding to 8, then one 8-byte slot per counter (a
// 4-byte counter in the first half of its slot).
constexpr uint32_t kBlockHeader = 8;
constexpr uint32_t kSlot = 8;
constexpr uint32_t kDefinitionLength =
    sizeof(PerfObjectType) + kCounterCount * sizeof(PerfCounterDefinition);
constexpr uint32_t kBlockLength = kBlockHeader + kCounterCount * kSlot;
constexpr uint32_t kObjectLength = kDefinitionLength + kBlockLength;
static_assert(kDefinitionLength % 8 == 0 && kObjectLength % 8 == 0, "8-byte alignment");

void Fill(const PerfTitles& titles, const CounterValues& values, uint32_t nowTick,
          unsigned char* out) {
    PerfObjectType object{};
    object.TotalByteLength = kObjectLength;
    object.DefinitionLength = kDefinitionLength;
    object.HeaderLength = sizeof(PerfObjectType);
    object.ObjectNameTitleIndex = titles.firstCounter;
    object.ObjectHelpTitleIndex = titles.firstHelp;
    object.DetailLevel = kPerfDetailNovice;
    object.NumCounters = kCounterCount;
    object.DefaultCounter = kDefaultCounter;
    object.NumInstances = kPerfNoInstances;
    std::memcpy(out, &object, sizeof object);

    unsigned char* block = out + kDefinitionLength;
    std::memcpy(block, &kBlockLength, sizeof kBlockLength);
    for (int i = 0; i < kCounterCount; ++i) {
        const CounterDefinition& entry = kCounters[i];
        const bool large = (entry.type & kPerfSizeLarge) != 0;
        PerfCounterDefinition definition{};
        definition.ByteLength = sizeof(PerfCounterDefinition);
        definition.CounterNameTitleIndex = titles.firstCounter + entry.offset;
        definition.CounterHelpTitleIndex = titles.firstHelp + entry.offset;
        definition.DefaultScale = entry.scale;
        definition.DetailLevel = kPerfDetailNovice;
        definition.CounterType = entry.type;
        definition.CounterSize = large ? 8 : 4;
        definition.CounterOffset = kBlockHeader + static_cast<uint32_t>(i) * kSlot;
        std::memcpy(out + sizeof(PerfObjectType) + i * sizeof definition, &definition,
                    sizeof definition);

        const uint64_t value = entry.value(values, nowTick);
        unsigned char* slot = block + definition.CounterOffset;
        if (large) {
            std::memcpy(slot, &value, sizeof value);
        } else {
            // A rate counter keeps the low 32 bits (perflib takes differences modulo 2^32);
            // a raw count stops at the largest value it can show.
            const uint32_t word = entry.type == kPerfCounterCounter ? static_cast<uint32_t>(value)
                                  : value > 0xFFFFFFFFu             ? 0xFFFFFFFFu
                                                                    : static_cast<uint32_t>(value);
            std::memcpy(slot, &word, sizeof word);
        }
    }
}

}  // namespace

uint32_t ObjectByteLength() {
    return kObjectLength;
}

uint32_t CollectCounters(const void* query, const PerfTitles& titles, const void* record,
                         size_t recordSize, uint32_t nowTick, void** data, uint32_t* totalBytes,
                         uint32_t* numObjectTypes) {
    if (!QueryWantsObject(query, titles.firstCounter)) {
        *totalBytes = 0;
        *numObjectTypes = 0;
        return kErrorSuccess;
    }
    if (*totalBytes < kObjectLength) {
        *totalBytes = 0;
        *numObjectTypes = 0;
        return kErrorMoreData;
    }
    CounterValues values;
    if (ReadRecord(record, recordSize, &values) != ReadResult::kRead) values = CounterValues{};
    // Built aside and copied whole: the caller's buffer never holds half an object.
    unsigned char object[kObjectLength] = {};
    Fill(titles, values, nowTick, object);
    std::memcpy(*data, object, kObjectLength);
    *data = static_cast<unsigned char*>(*data) + kObjectLength;
    *totalBytes = kObjectLength;
    *numObjectTypes = 1;
    return kErrorSuccess;
}

}  // namespace qxr::perf
