#include "perf_counters/perf_collect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "perf_counters/counter_record.h"
#include "perf_counters/counter_table.h"
#include "perf_counters/perf_data.h"
#include "perf_counters/qxrperf.h"

namespace qxr::perf {
namespace {

constexpr PerfTitles kTitles{238, 239};
constexpr uint8_t kCanary = 0xA5;

// A query as perflib passes it: UTF-16 with its terminator.
std::vector<uint16_t> Wide(const char* text) {
    std::vector<uint16_t> out;
    for (const char* p = text; *p; ++p) out.push_back(static_cast<uint8_t>(*p));
    out.push_back(0);
    return out;
}

struct Collected {
    uint32_t status = 0;
    uint32_t bytes = 0;
    uint32_t objects = 0;
    size_t advanced = 0;
    std::vector<uint8_t> buffer;
};

Collected Collect(const char* query, uint32_t size, const SharedRecord* record, uint32_t now = 0,
                  size_t recordSize = sizeof(SharedRecord)) {
    Collected c;
    c.buffer.assign(size + 64, kCanary);
    std::vector<uint16_t> wide;
    if (query != nullptr) wide = Wide(query);
    void* data = c.buffer.data();
    c.bytes = size;
    c.objects = 77;
    c.status =
        CollectCounters(query != nullptr ? wide.data() : nullptr, kTitles, record,
                        record != nullptr ? recordSize : 0, now, &data, &c.bytes, &c.objects);
    c.advanced = static_cast<size_t>(static_cast<uint8_t*>(data) - c.buffer.data());
    return c;
}

template <typename T>
T At(const std::vector<uint8_t>& buffer, size_t offset) {
    T value{};
    std::memcpy(&value, buffer.data() + offset, sizeof value);
    return value;
}

// The counters of a collected object by title offset.
std::map<uint32_t, uint64_t> Counters(const std::vector<uint8_t>& buffer) {
    const auto object = At<PerfObjectType>(buffer, 0);
    const uint32_t block = object.DefinitionLength;
    std::map<uint32_t, uint64_t> out;
    for (uint32_t i = 0; i < object.NumCounters; ++i) {
        const auto d = At<PerfCounterDefinition>(
            buffer, object.HeaderLength + i * sizeof(PerfCounterDefinition));
        uint64_t value = d.CounterSize == 8 ? At<uint64_t>(buffer, block + d.CounterOffset)
                                            : At<uint32_t>(buffer, block + d.CounterOffset);
        out[d.CounterNameTitleIndex - kTitles.firstCounter] = value;
    }
    return out;
}

SharedRecord Published(const CounterValues& values) {
    SharedRecord record{};
    InitRecord(&record);
    PublishRecord(&record, values);
    return record;
}

TEST(PerfCollectTest, QueriesThatAskForTheObject) {
    const SharedRecord record = Published(CounterValues{});
    struct Case {
        const char* query;  // null: no value name
        bool wanted;
    };
    const Case cases[] = {
        {nullptr, true},
        {"", true},
        {"Global", true},
        {"global", true},
        {"  Global  ", true},
        {"238", true},
        {"2 238 510", true},
        {"0238", true},
        {"  238\t", true},
        {"x 238", true},  // a word that is no number names nothing, the others still count
        {"Foreign", false},
        {"Foreign \\\\HOST 238", false},
        {"Costly", false},
        {"Costly 238", false},
        {"2 510", false},
        {"239", false},  // the help index is not the object
        {"240", false},  // nor a counter's
        {"x238", false},
        {"238x", false},
        {"-238", false},
        {"4294967534", false},  // 238 + 2^32: does not wrap onto ours
        {"99999999999999999999999", false},
        {"Globalx", false},
        {"Glob", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query != nullptr ? c.query : "(null)");
        const Collected got = Collect(c.query, 4096, &record);
        EXPECT_EQ(got.status, kErrorSuccess);
        EXPECT_EQ(got.objects, c.wanted ? 1u : 0u);
        EXPECT_EQ(got.bytes, c.wanted ? ObjectByteLength() : 0u);
        EXPECT_EQ(got.advanced, got.bytes);
        if (!c.wanted) {
            EXPECT_EQ(got.buffer[0], kCanary);
        }
    }
}

TEST(PerfCollectTest, BufferSizes) {
    const SharedRecord record = Published(CounterValues{});
    const uint32_t need = ObjectByteLength();
    struct Case {
        const char* name;
        uint32_t size;
        bool fits;
    };
    const Case cases[] = {
        {"none", 0, false},
        {"header only", sizeof(PerfObjectType), false},
        {"one byte short", need - 1, false},
        {"exactly", need, true},
        {"larger", need + 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Collected got = Collect("Global", c.size, &record);
        EXPECT_EQ(got.status, c.fits ? kErrorSuccess : kErrorMoreData);
        EXPECT_EQ(got.bytes, c.fits ? need : 0u);
        EXPECT_EQ(got.objects, c.fits ? 1u : 0u);
        EXPECT_EQ(got.advanced, c.fits ? need : 0u);
        // Not a byte written when it does not fit; nothing past the object when it does.
        for (size_t i = c.fits ? need : 0; i < got.buffer.size(); ++i) {
            ASSERT_EQ(got.buffer[i], kCanary) << "byte " << i;
        }
    }
}

TEST(PerfCollectTest, ObjectLayout) {
    const Collected got = Collect("Global", 4096, nullptr);
    ASSERT_EQ(got.status, kErrorSuccess);
    const auto object = At<PerfObjectType>(got.buffer, 0);
    EXPECT_EQ(object.TotalByteLength, got.bytes);
    EXPECT_EQ(object.TotalByteLength % 8, 0u);
    EXPECT_EQ(object.HeaderLength, sizeof(PerfObjectType));
    EXPECT_EQ(object.DefinitionLength,
              sizeof(PerfObjectType) + kCounterCount * sizeof(PerfCounterDefinition));
    EXPECT_EQ(object.ObjectNameTitleIndex, kTitles.firstCounter + QXR_TIME_OBJECT);
    EXPECT_EQ(object.ObjectHelpTitleIndex, kTitles.firstHelp + QXR_TIME_OBJECT);
    EXPECT_EQ(object.NumCounters, static_cast<uint32_t>(kCounterCount));
    EXPECT_EQ(object.NumInstances, kPerfNoInstances);
    EXPECT_GE(object.DefaultCounter, 0);
    EXPECT_LT(object.DefaultCounter, kCounterCount);
    const uint32_t blockLength = At<uint32_t>(got.buffer, object.DefinitionLength);
    EXPECT_EQ(object.DefinitionLength + blockLength, object.TotalByteLength);
    std::vector<bool> used(blockLength, false);
    for (int i = 0; i < kCounterCount; ++i) {
        SCOPED_TRACE(i);
        const auto d = At<PerfCounterDefinition>(
            got.buffer, object.HeaderLength + i * sizeof(PerfCounterDefinition));
        EXPECT_EQ(d.ByteLength, sizeof(PerfCounterDefinition));
        EXPECT_EQ(d.CounterNameTitleIndex, kTitles.firstCounter + kCounters[i].offset);
        EXPECT_EQ(d.CounterHelpTitleIndex, kTitles.firstHelp + kCounters[i].offset);
        EXPECT_EQ(d.CounterSize, (d.CounterType & kPerfSizeLarge) != 0 ? 8u : 4u);
        // Inside the block, past its length word, aligned to its size, overlapping no other.
        EXPECT_GE(d.CounterOffset, 4u);
        EXPECT_LE(d.CounterOffset + d.CounterSize, blockLength);
        EXPECT_EQ(d.CounterOffset % d.CounterSize, 0u);
        for (uint32_t b = d.CounterOffset; b < d.CounterOffset + d.CounterSize && b < blockLength;
             ++b) {
            EXPECT_FALSE(used[b]);
            used[b] = true;
        }
    }
}

TEST(PerfCollectTest, CounterValuesFromTheRecord) {
    CounterValues v;
    v.serviceRunning = 1;
    v.referenceState = kStateOnBoardClock;
    v.gpsTick = 0xFFFFF000u;  // 4096 ms before the tick counter wrapped
    v.offsetUs = 0x123456789ull;
    v.systemAhead = 1;
    v.rateCorrectionPpb = 6400;
    v.corrections = 40;
    v.steps = 3;
    v.cardReadFailures = 2;
    v.ntpIncoming = 0x100000005ull;  // a rate counter keeps the low 32 bits
    v.ntpOutgoing = 4;
    v.ntpMalformed = 7;
    v.ntpRefused = 8;
    v.ntpLimited = 9;
    v.ntpSynchronised = 1;
    v.ntpRootDispersionUs = 1015;
    v.trackingLinesDropped = 11;
    const SharedRecord record = Published(v);
    struct Case {
        const char* name;
        const SharedRecord* record;
        size_t recordSize;
        std::map<uint32_t, uint64_t> expected;
    };
    const std::map<uint32_t, uint64_t> stopped = {
        {QXR_SERVICE_RUNNING, 0},    {QXR_REFERENCE_STATE, 0},     {QXR_SECONDS_SINCE_GPS, 0},
        {QXR_OFFSET_US, 0},          {QXR_SYSTEM_AHEAD, 0},        {QXR_RATE_CORRECTION_PPB, 0},
        {QXR_RATE_FASTER, 0},        {QXR_CORRECTIONS, 0},         {QXR_STEPS, 0},
        {QXR_CARD_READ_FAILURES, 0}, {QXR_NTP_INCOMING, 0},        {QXR_NTP_OUTGOING, 0},
        {QXR_NTP_MALFORMED, 0},      {QXR_NTP_REFUSED, 0},         {QXR_NTP_RATE_LIMITED, 0},
        {QXR_NTP_SYNCHRONISED, 0},   {QXR_NTP_ROOT_DISPERSION, 0}, {QXR_TRACKING_DROPPED, 0},
    };
    SharedRecord busy = record;
    busy.sequence |= 1;
    const Case cases[] = {
        {"running",
         &record,
         sizeof record,
         {
             {QXR_SERVICE_RUNNING, 1},
             {QXR_REFERENCE_STATE, 1},
             {QXR_SECONDS_SINCE_GPS, 65},
             {QXR_OFFSET_US, 0x123456789ull},
             {QXR_SYSTEM_AHEAD, 1},
             {QXR_RATE_CORRECTION_PPB, 6400},
             {QXR_RATE_FASTER, 0},
             {QXR_CORRECTIONS, 40},
             {QXR_STEPS, 3},
             {QXR_CARD_READ_FAILURES, 2},
             {QXR_NTP_INCOMING, 5},
             {QXR_NTP_OUTGOING, 4},
             {QXR_NTP_MALFORMED, 7},
             {QXR_NTP_REFUSED, 8},
             {QXR_NTP_RATE_LIMITED, 9},
             {QXR_NTP_SYNCHRONISED, 1},
             {QXR_NTP_ROOT_DISPERSION, 1015},
             {QXR_TRACKING_DROPPED, 11},
         }},
        // The service is not installed or has stopped: the object, saying so.
        {"no section", nullptr, 0, stopped},
        {"section too small", &record, sizeof record - 1, stopped},
        {"being written", &busy, sizeof busy, stopped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // 61,440 ms after the wrap: 65.5 s since the GPS reading.
        const Collected got = Collect("Global", 4096, c.record, 61440, c.recordSize);
        ASSERT_EQ(got.status, kErrorSuccess);
        ASSERT_EQ(got.objects, 1u);
        EXPECT_EQ(Counters(got.buffer), c.expected);
    }
}

// The names and help texts for lodctr: every counter of the table, and the object, has both
// in English, under a symbol of qxrperf.h with the table's offset.
TEST(PerfCollectTest, IniAndSymbolFileNameEveryCounter) {
    std::ifstream h(QXRPERF_H_PATH), ini(QXRPERF_INI_PATH);
    ASSERT_TRUE(h && ini);
    std::map<std::string, uint32_t> symbols;
    const std::regex define(R"(^#define\s+(\w+)\s+(\d+)\s*$)");
    for (std::string line; std::getline(h, line);) {
        std::smatch m;
        if (std::regex_match(line, m, define)) symbols[m[1]] = std::stoul(m[2]);
    }
    std::stringstream text;
    text << ini.rdbuf();
    const std::string contents = text.str();
    EXPECT_NE(contents.find("drivername=QxrSync"), std::string::npos);
    EXPECT_NE(contents.find("symbolfile=qxrperf.h"), std::string::npos);
    std::vector<uint32_t> offsets = {QXR_TIME_OBJECT};
    for (const CounterDefinition& entry : kCounters) offsets.push_back(entry.offset);
    EXPECT_EQ(symbols.size(), offsets.size());
    for (uint32_t offset : offsets) {
        std::string symbol;
        for (const auto& [name, value] : symbols) {
            if (value == offset) symbol = name;
        }
        SCOPED_TRACE(offset);
        ASSERT_FALSE(symbol.empty());
        for (const char* kind : {"NAME", "HELP"}) {
            const std::regex entry("\n" + symbol + "_009_" + kind + "=[^\n]+");
            EXPECT_TRUE(std::regex_search(contents, entry)) << symbol << " " << kind;
        }
    }
}

}  // namespace
}  // namespace qxr::perf
