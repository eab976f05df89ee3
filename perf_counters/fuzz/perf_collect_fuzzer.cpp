// The counter DLL's Collect with any query, any buffer size, any title indexes and any record
// (a published one with any values and sequence, or any bytes of any length). The buffer and
// the query each sit in an allocation of exactly their size, so that the sanitizer sees any
// access past them. The result is either ERROR_MORE_DATA with nothing written and nothing
// returned, or success with nothing, or one well-formed PERF_OBJECT_TYPE within the buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <vector>

#include "perf_counters/counter_record.h"
#include "perf_counters/counter_table.h"
#include "perf_counters/perf_collect.h"
#include "perf_counters/perf_data.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr::perf;

template <typename T>
T At(const uint8_t* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

void CheckObject(const uint8_t* out, uint32_t bytes, uint32_t size, const PerfTitles& titles) {
    QXR_FUZZ_CHECK(bytes >= sizeof(PerfObjectType) && bytes <= size && bytes % 8 == 0);
    const auto object = At<PerfObjectType>(out, 0);
    QXR_FUZZ_CHECK(object.TotalByteLength == bytes);
    QXR_FUZZ_CHECK(object.HeaderLength == sizeof(PerfObjectType));
    QXR_FUZZ_CHECK(object.NumCounters == static_cast<uint32_t>(kCounterCount));
    QXR_FUZZ_CHECK(object.DefinitionLength ==
                   sizeof(PerfObjectType) + object.NumCounters * sizeof(PerfCounterDefinition));
    QXR_FUZZ_CHECK(object.DefinitionLength % 8 == 0 && object.DefinitionLength + 8 <= bytes);
    QXR_FUZZ_CHECK(object.NumInstances == kPerfNoInstances);
    QXR_FUZZ_CHECK(object.ObjectNameTitleIndex == titles.firstCounter);
    const uint32_t block = At<uint32_t>(out, object.DefinitionLength);
    QXR_FUZZ_CHECK(object.DefinitionLength + block == bytes);
    for (uint32_t i = 0; i < object.NumCounters; ++i) {
        const auto d = At<PerfCounterDefinition>(
            out, sizeof(PerfObjectType) + i * sizeof(PerfCounterDefinition));
        QXR_FUZZ_CHECK(d.ByteLength == sizeof(PerfCounterDefinition));
        QXR_FUZZ_CHECK(d.CounterSize == 4 || d.CounterSize == 8);
        QXR_FUZZ_CHECK(d.CounterOffset >= 4 && d.CounterOffset % d.CounterSize == 0);
        QXR_FUZZ_CHECK(d.CounterOffset + d.CounterSize <= block);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    PerfTitles titles;
    titles.firstCounter = in.ConsumeIntegral<uint32_t>();
    titles.firstHelp = in.ConsumeIntegral<uint32_t>();
    const uint32_t nowTick = in.ConsumeIntegral<uint32_t>();
    const uint32_t bufferSize = in.ConsumeIntegralInRange<uint32_t>(0, 2048);

    // The record: published with any values, or raw bytes of any length.
    std::unique_ptr<uint32_t[]> record;
    size_t recordSize = 0;
    const int kind = in.ConsumeIntegralInRange(0, 2);
    if (kind == 1) {
        record.reset(new uint32_t[kSharedRecordSize / 4]);
        auto* shared = reinterpret_cast<SharedRecord*>(record.get());
        std::memset(shared, 0, sizeof *shared);
        shared->sequence = in.ConsumeIntegral<uint32_t>();
        InitRecord(shared);
        uint32_t words[kValueWords];
        for (uint32_t& w : words) w = in.ConsumeIntegral<uint32_t>();
        CounterValues values;
        DecodeValues(words, &values);
        PublishRecord(shared, values);
        if (in.ConsumeBool()) shared->sequence |= 1;  // a writer caught half-way
        recordSize = kSharedRecordSize - in.ConsumeIntegralInRange<size_t>(0, 1) * 4;
    } else if (kind == 2) {
        recordSize = in.ConsumeIntegralInRange<size_t>(0, kSharedRecordSize + 8) & ~size_t{3};
        record.reset(new uint32_t[recordSize / 4 + 1]);
        for (size_t i = 0; i < recordSize / 4; ++i) record[i] = in.ConsumeIntegral<uint32_t>();
    }

    // The query: the rest as UTF-16 units with a terminator, or none at all.
    const bool noQuery = in.ConsumeBool();
    std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    const size_t units = rest.size() / 2;
    std::unique_ptr<uint16_t[]> query(new uint16_t[units + 1]);
    if (units > 0) std::memcpy(query.get(), rest.data(), units * 2);
    query[units] = 0;

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize > 0 ? bufferSize : 1]);
    std::memset(buffer.get(), 0x5A, bufferSize > 0 ? bufferSize : 1);
    void* out = buffer.get();
    uint32_t bytes = bufferSize, objects = 77;
    const uint32_t status = CollectCounters(noQuery ? nullptr : query.get(), titles, record.get(),
                                            recordSize, nowTick, &out, &bytes, &objects);
    const uint8_t* start = buffer.get();
    if (status == kErrorMoreData || objects == 0) {
        QXR_FUZZ_CHECK(status == kErrorMoreData || status == kErrorSuccess);
        QXR_FUZZ_CHECK(bytes == 0 && objects == 0 && out == buffer.get());
        for (uint32_t i = 0; i < bufferSize; ++i) QXR_FUZZ_CHECK(start[i] == 0x5A);
        return 0;
    }
    QXR_FUZZ_CHECK(status == kErrorSuccess && objects == 1);
    QXR_FUZZ_CHECK(static_cast<uint8_t*>(out) == buffer.get() + bytes);
    CheckObject(start, bytes, bufferSize, titles);
    for (uint32_t i = bytes; i < bufferSize; ++i) QXR_FUZZ_CHECK(start[i] == 0x5A);
    return 0;
}
