#include "sync_service/ntp_server/card_reading.h"

#include "card_access/card_time_conversion.h"

namespace qxr::ntp {

namespace {
constexpr int64_t kHalfMillisecond = 5000;
constexpr int64_t kTicksPerSecond = 10000000;
}  // namespace

bool MakeTimeReading(const CardTime& time, int64_t before, int64_t after, int64_t frequency,
                     CardReading* reading) {
    if (frequency <= 0 || after < before) return false;
    const int64_t latch = static_cast<int64_t>(
        (static_cast<uint64_t>(time.latchCounterHigh) << 32) | time.latchCounterLow);
    const bool latchFits = latch != 0;
    if (latchFits) {
        // The card's second began `millisecond` ms (and up to one more) before the card was
        // read, at some counter value from `before` to `after`.
        if (latch > after || time.millisecond < 0 || time.millisecond > 999) return false;
        const int64_t tolerance = kLatchTolerance * frequency / kTicksPerSecond;
        const int64_t earliest = static_cast<int64_t>(time.millisecond) * frequency / 1000;
        const int64_t latest = (static_cast<int64_t>(time.millisecond) + 1) * frequency / 1000;
        int64_t sinceBefore = 0;
        if (__builtin_sub_overflow(before, latch, &sinceBefore)) return false;
        // The run from the latch to the read lies in [sinceBefore, sinceBefore + length].
        if (sinceBefore > latest + tolerance ||
            sinceBefore + (after - before) < earliest - tolerance) {
            return false;
        }
    } else if (after - before > frequency) {
        // A request that took more than a second cannot place the card's time at all.
        return false;
    }
    int64_t cardTime = 0;
    if (!CardTimeToFileTime(time, !latchFits, &cardTime)) return false;
    reading->kind = CardReading::kTime;
    reading->cardTime = cardTime + kHalfMillisecond;
    if (latchFits) {
        reading->counter = latch;
        reading->uncertainty = 0;
    } else {
        reading->counter = before + (after - before) / 2;
        reading->uncertainty = (after - before) / 2 * kTicksPerSecond / frequency;
    }
    return true;
}

}  // namespace qxr::ntp
