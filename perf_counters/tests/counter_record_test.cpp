#include "perf_counters/counter_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/global_namespace.h"

namespace qxr::perf {
namespace {

// Every field a different value, the 64-bit ones with both halves in use.
CounterValues Distinct() {
    CounterValues v;
    v.serviceRunning = 1;
    v.referenceState = 2;
    v.gpsTick = 0xFFFFFFF0u;
    v.offsetUs = 0x100000002ull;
    v.systemAhead = 1;
    v.rateCorrectionPpb = 6400;
    v.rateFaster = 1;
    v.corrections = 0x300000004ull;
    v.steps = 5;
    v.cardReadFailures = 6;
    v.ntpIncoming = 0x700000008ull;
    v.ntpOutgoing = 9;
    v.ntpMalformed = 10;
    v.ntpRefused = 11;
    v.ntpLimited = 12;
    v.ntpSynchronised = 1;
    v.ntpRootDispersionUs = 1015;
    v.trackingLinesDropped = 0xD0000000Eull;
    return v;
}

TEST(CounterRecordTest, WhatIsReadIsAWholePublishedRecordOrNothing) {
    struct Case {
        const char* name;
        void (*edit)(SharedRecord* r, size_t* available);
        ReadResult expected;
    };
    const Case cases[] = {
        {"published", [](SharedRecord*, size_t*) {}, ReadResult::kRead},
        {"one byte short", [](SharedRecord*, size_t* n) { *n = kSharedRecordSize - 1; },
         ReadResult::kMissing},
        {"never initialised (zeros)",
         [](SharedRecord* r, size_t*) { std::memset(r, 0, sizeof *r); }, ReadResult::kMissing},
        {"another version", [](SharedRecord* r, size_t*) { r->version = kRecordVersion + 1; },
         ReadResult::kMissing},
        {"another size", [](SharedRecord* r, size_t*) { r->size = kSharedRecordSize + 8; },
         ReadResult::kMissing},
        // A writer that stopped half-way (odd sequence): the reader gives up, it never waits.
        {"being written", [](SharedRecord* r, size_t*) { r->sequence |= 1; }, ReadResult::kBusy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedRecord record{};
        InitRecord(&record);
        PublishRecord(&record, Distinct());
        size_t available = sizeof record;
        c.edit(&record, &available);
        CounterValues read = Distinct();
        EXPECT_EQ(ReadRecord(&record, available, &read), c.expected);
        EXPECT_TRUE(read == (c.expected == ReadResult::kRead ? Distinct() : CounterValues{}));
    }
    CounterValues read;
    EXPECT_EQ(ReadRecord(nullptr, kSharedRecordSize, &read), ReadResult::kMissing);
}

TEST(CounterRecordTest, EveryFieldHasWordsOfItsOwn) {
    uint32_t words[kValueWords];
    EncodeValues(Distinct(), words);
    CounterValues back;
    DecodeValues(words, &back);
    EXPECT_TRUE(back == Distinct());
    // Each field changed alone changes the encoding: no two fields share a word.
    for (int i = 0; i < kValueWords; ++i) {
        uint32_t edited[kValueWords];
        std::memcpy(edited, words, sizeof words);
        edited[i] ^= 0x80000000u;
        CounterValues other;
        DecodeValues(edited, &other);
        EXPECT_FALSE(other == Distinct()) << "word " << i;
    }
}

TEST(CounterRecordTest, RestartKeepsTheSequenceEven) {
    SharedRecord record{};
    record.sequence = 7;  // left by a writer that died half-way
    InitRecord(&record);
    EXPECT_EQ(record.sequence, 6u);
    PublishRecord(&record, Distinct());
    EXPECT_EQ(record.sequence, 8u);
    CounterValues read;
    EXPECT_EQ(ReadRecord(&record, sizeof record, &read), ReadResult::kRead);
}

// A writer publishing without pause, every field of each record the same number: a torn
// copy would mix two numbers. Every copy the reader takes must be whole.
TEST(CounterRecordTest, AReaderNeverTakesATornWrite) {
    static SharedRecord record{};
    InitRecord(&record);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (uint32_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
            CounterValues v;
            v.serviceRunning = v.referenceState = v.gpsTick = n;
            v.systemAhead = v.rateCorrectionPpb = v.rateFaster = n;
            v.ntpSynchronised = v.ntpRootDispersionUs = n;
            v.offsetUs = v.corrections = v.steps = v.cardReadFailures = n;
            v.ntpIncoming = v.ntpOutgoing = v.ntpMalformed = v.ntpRefused = v.ntpLimited = n;
            v.trackingLinesDropped = n;
            PublishRecord(&record, v);
        }
    });
    int whole = 0, torn = 0;
    for (int i = 0; i < 200000; ++i) {
        CounterValues v;
        if (ReadRecord(&record, sizeof record, &v) != ReadResult::kRead) continue;
        uint32_t words[kValueWords];
        EncodeValues(v, words);
        const uint32_t n = words[0];
        bool same = true;
        for (int w = 0; w < kValueWords; ++w) {
            // The 64-bit fields' high words stay 0.
            if (words[w] != n && words[w] != 0) same = false;
        }
        if (v.trackingLinesDropped != n || v.corrections != n) same = false;
        same ? ++whole : ++torn;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(whole, 0);
}

TEST(CounterRecordTest, SectionNameByWindowsVersion) {
    struct Case {
        uint32_t platform, major;
        const char* expected;
    };
    const Case cases[] = {
        {2, 4, "QxrSyncCounters"},          // NT 4.0: one namespace, no prefix
        {2, 3, "QxrSyncCounters"},          // NT 3.51
        {2, 5, "Global\\QxrSyncCounters"},  // Windows 2000
        {2, 6, "Global\\QxrSyncCounters"},  // Windows 7, Wine's default
        {2, 10, "Global\\QxrSyncCounters"}, {1, 4, "QxrSyncCounters"},  // Windows 9x
    };
    for (const Case& c : cases) {
        char name[64];
        EXPECT_TRUE(
            platform::SharedObjectName(kSectionBaseName, c.platform, c.major, name, sizeof name));
        EXPECT_STREQ(name, c.expected) << c.platform << "." << c.major;
    }
    char small[22];  // room for "Global\QxrSyncCounters" but its terminator
    EXPECT_FALSE(platform::SharedObjectName(kSectionBaseName, 2, 5, small, sizeof small));
    EXPECT_STREQ(small, "");
}

}  // namespace
}  // namespace qxr::perf
