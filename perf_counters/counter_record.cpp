#include "perf_counters/counter_record.h"

#include <cstring>

namespace qxr::perf {

namespace {

// The record lives in memory another process writes: every word is read and written whole,
// and the sequence orders the rest (a seqlock). GCC and Clang both have these builtins.
uint32_t LoadRelaxed(const uint32_t* word) {
    return __atomic_load_n(word, __ATOMIC_RELAXED);
}
void StoreRelaxed(uint32_t* word, uint32_t value) {
    __atomic_store_n(word, value, __ATOMIC_RELAXED);
}

class Writer {
  public:
    explicit Writer(uint32_t* words) : words_(words) {}
    void Put(uint32_t value) { words_[at_++] = value; }
    void Put(uint64_t value) {
        Put(static_cast<uint32_t>(value));
        Put(static_cast<uint32_t>(value >> 32));
    }

  private:
    uint32_t* words_;
    int at_ = 0;
};

class Reader {
  public:
    explicit Reader(const uint32_t* words) : words_(words) {}
    void Get(uint32_t* value) { *value = words_[at_++]; }
    void Get(uint64_t* value) {
        uint32_t low = 0, high = 0;
        Get(&low);
        Get(&high);
        *value = (uint64_t{high} << 32) | low;
    }

  private:
    const uint32_t* words_;
    int at_ = 0;
};

}  // namespace

bool CounterValues::operator==(const CounterValues& other) const {
    uint32_t mine[kValueWords], theirs[kValueWords];
    EncodeValues(*this, mine);
    EncodeValues(other, theirs);
    return std::memcmp(mine, theirs, sizeof mine) == 0;
}

void EncodeValues(const CounterValues& v, uint32_t* words) {
    Writer w(words);
    w.Put(v.serviceRunning);
    w.Put(v.referenceState);
    w.Put(v.gpsTick);
    w.Put(v.offsetUs);
    w.Put(v.systemAhead);
    w.Put(v.rateCorrectionPpb);
    w.Put(v.rateFaster);
    w.Put(v.corrections);
    w.Put(v.steps);
    w.Put(v.cardReadFailures);
    w.Put(v.ntpIncoming);
    w.Put(v.ntpOutgoing);
    w.Put(v.ntpMalformed);
    w.Put(v.ntpRefused);
    w.Put(v.ntpLimited);
    w.Put(v.ntpSynchronised);
    w.Put(v.ntpRootDispersionUs);
    w.Put(v.trackingLinesDropped);
}

void DecodeValues(const uint32_t* words, CounterValues* v) {
    Reader r(words);
    r.Get(&v->serviceRunning);
    r.Get(&v->referenceState);
    r.Get(&v->gpsTick);
    r.Get(&v->offsetUs);
    r.Get(&v->systemAhead);
    r.Get(&v->rateCorrectionPpb);
    r.Get(&v->rateFaster);
    r.Get(&v->corrections);
    r.Get(&v->steps);
    r.Get(&v->cardReadFailures);
    r.Get(&v->ntpIncoming);
    r.Get(&v->ntpOutgoing);
    r.Get(&v->ntpMalformed);
    r.Get(&v->ntpRefused);
    r.Get(&v->ntpLimited);
    r.Get(&v->ntpSynchronised);
    r.Get(&v->ntpRootDispersionUs);
    r.Get(&v->trackingLinesDropped);
}

void InitRecord(SharedRecord* record) {
    // A record left by an earlier run keeps its sequence (made even): a reader holding the
    // section across the restart then never sees a number repeat.
    const uint32_t sequence = LoadRelaxed(&record->sequence) & ~1u;
    StoreRelaxed(&record->sequence, sequence);
    StoreRelaxed(&record->size, kSharedRecordSize);
    __atomic_store_n(&record->version, kRecordVersion, __ATOMIC_RELEASE);
}

void PublishRecord(SharedRecord* record, const CounterValues& values) {
    uint32_t words[kValueWords];
    EncodeValues(values, words);
    const uint32_t sequence = LoadRelaxed(&record->sequence) & ~1u;
    StoreRelaxed(&record->sequence, sequence + 1);
    __atomic_thread_fence(__ATOMIC_RELEASE);
    for (int i = 0; i < kValueWords; ++i) StoreRelaxed(&record->words[i], words[i]);
    __atomic_store_n(&record->sequence, sequence + 2, __ATOMIC_RELEASE);
}

ReadResult ReadRecord(const void* base, size_t available, CounterValues* values) {
    *values = CounterValues{};
    if (base == nullptr || available < kSharedRecordSize ||
        reinterpret_cast<uintptr_t>(base) % alignof(uint32_t) != 0) {
        return ReadResult::kMissing;
    }
    const auto* record = static_cast<const SharedRecord*>(base);
    if (__atomic_load_n(&record->version, __ATOMIC_ACQUIRE) != kRecordVersion ||
        LoadRelaxed(&record->size) != kSharedRecordSize) {
        return ReadResult::kMissing;
    }
    uint32_t words[kValueWords];
    for (int attempt = 0; attempt < kReadTries; ++attempt) {
        const uint32_t before = __atomic_load_n(&record->sequence, __ATOMIC_ACQUIRE);
        if (before & 1u) continue;
        for (int i = 0; i < kValueWords; ++i) words[i] = LoadRelaxed(&record->words[i]);
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        if (LoadRelaxed(&record->sequence) == before) {
            DecodeValues(words, values);
            return ReadResult::kRead;
        }
    }
    return ReadResult::kBusy;
}

}  // namespace qxr::perf
