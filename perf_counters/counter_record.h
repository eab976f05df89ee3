// The record QxrSync publishes for its performance counters: one small fixed block in a named
// shared-memory section, written by the service's loop and read by the counter DLL inside
// whatever process reads the counters (Performance Monitor, or the system's own process for a
// remote reader). Neither side ever waits for the other: the writer makes the sequence number
// odd, writes the values and makes it even again; a reader copies the values between two
// reads of the sequence and takes the copy only when both saw the same even number. After a
// few torn copies it gives up rather than wait.
//
// The layout is words of 32 bits only (a 64-bit count as two words, low first), the same in a
// 32-bit and a 64-bit process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxr::perf {

inline constexpr uint32_t kRecordVersion = 1;
// The section's name without its namespace (section_name.h adds it).
inline constexpr char kSectionBaseName[] = "QxrSyncCounters";
// Tries of a reader before it gives up on a record being written.
inline constexpr int kReadTries = 8;

// The reference as the counter shows it: the higher, the better.
inline constexpr uint32_t kStateNone = 0;
inline constexpr uint32_t kStateOnBoardClock = 1;
inline constexpr uint32_t kStateGps = 2;

struct CounterValues {
    uint32_t serviceRunning = 0;
    uint32_t referenceState = kStateNone;
    // The tick counter at the last card time reading on GPS, or at the service's start when
    // there was none since; a reader turns it into seconds with its own tick count.
    uint32_t gpsTick = 0;
    // The last correction's offset, system clock minus card: magnitude in microseconds and
    // whether the system clock was ahead (1) or behind or equal (0).
    uint64_t offsetUs = 0;
    uint32_t systemAhead = 0;
    // The rate correction in force after the last correction, relative to the nominal clock
    // rate: magnitude in parts per billion and whether the clock is being sped up (1).
    uint32_t rateCorrectionPpb = 0;
    uint32_t rateFaster = 0;
    uint64_t corrections = 0;
    uint64_t steps = 0;
    uint64_t cardReadFailures = 0;
    // The NTP server's counts since the service started; 0 while it does not serve.
    uint64_t ntpIncoming = 0;
    uint64_t ntpOutgoing = 0;
    uint64_t ntpMalformed = 0;
    uint64_t ntpRefused = 0;
    uint64_t ntpLimited = 0;
    // What the last answered request was told.
    uint32_t ntpSynchronised = 0;
    uint32_t ntpRootDispersionUs = 0;
    uint64_t trackingLinesDropped = 0;

    bool operator==(const CounterValues& other) const;
    bool operator!=(const CounterValues& other) const { return !(*this == other); }
};

inline constexpr int kValueWords = 28;

// The section's contents. `size` and `version` are written once, before the first values.
struct SharedRecord {
    uint32_t version;
    uint32_t size;  // sizeof(SharedRecord)
    uint32_t sequence;
    uint32_t reserved;
    uint32_t words[kValueWords];
};
inline constexpr uint32_t kSharedRecordSize = sizeof(SharedRecord);
static_assert(kSharedRecordSize == 128, "the record is the same in every build");

// Writer side, one writer only. Prepares a new section (or one left by an earlier run).
void InitRecord(SharedRecord* record);
// Copies `values` in; never waits.
void PublishRecord(SharedRecord* record, const CounterValues& values);

enum class ReadResult {
    kRead,     // `values` holds one whole published record
    kMissing,  // no record there: too small, another version, or never initialised
    kBusy,     // written during every try
};
// Reader side: `available` bytes at `base` (any alignment of 4); never reads beyond them.
ReadResult ReadRecord(const void* base, size_t available, CounterValues* values);

// The word layout, for tests and the fuzz target.
void EncodeValues(const CounterValues& values, uint32_t* words);
void DecodeValues(const uint32_t* words, CounterValues* values);

}  // namespace qxr::perf
