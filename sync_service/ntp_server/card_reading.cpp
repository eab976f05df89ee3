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
    // The card's second began at most a second (and a little) before the request.
    const int64_t window = frequency + frequency / 10;
    const bool latchFits = latch != 0 && latch <= after && latch >= before - window;
    // A request that took more than a second cannot place the card's time at all.
    if (!latchFits && after - before > frequency) return false;
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
