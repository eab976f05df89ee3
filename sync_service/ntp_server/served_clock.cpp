#include "sync_service/ntp_server/served_clock.h"

namespace qxr::ntp {

namespace {
constexpr int32_t kGps = 1;
}

ServedClock::ServedClock(int64_t counterFrequency)
    : fit_(counterFrequency), precision_(PrecisionOf(counterFrequency)) {}

void ServedClock::Apply(const CardReading& reading) {
    switch (reading.kind) {
        case CardReading::kStatus:
            // As the loop takes it: a stray value still names a reference.
            reference_ = static_cast<int32_t>(static_cast<uint32_t>(reading.reference) % 3u);
            statusSeen_ = true;
            break;
        case CardReading::kTime:
            if (reading.cardTime < 0) {  // before 1601: no time the card can have
                timeReadable_ = false;
                break;
            }
            fit_.Add(reading.counter, reading.cardTime);
            timeReadable_ = true;
            uncertainty_ = reading.uncertainty;
            if (statusSeen_ && reference_ == kGps) {
                gpsReadingSeen_ = true;
                lastGpsTime_ = reading.cardTime;
            }
            break;
        case CardReading::kTimeFailed:
            timeReadable_ = false;
            break;
    }
}

NtpServerFields ServedClock::Fields(int64_t now) const {
    NtpServerFields fields;
    fields.precision = precision_;
    if (!statusSeen_ || reference_ == 0 || !timeReadable_ || !gpsReadingSeen_ || fit_.Empty()) {
        return fields;
    }
    // Older than the reading itself can only be a card set back in between: no age then.
    const int64_t age = now > lastGpsTime_ ? now - lastGpsTime_ : 0;
    const int64_t wander = age / (1000000 / kWanderPpm);
    const int64_t dispersion = kCardResolution + uncertainty_ + wander;
    if (dispersion > kMaxDispersion) return fields;
    fields.leap = 0;
    fields.stratum = 1;
    fields.referenceId = kReferenceIdGps;
    fields.rootDispersion = NtpShortFromTicks(dispersion);
    fields.reference = FileTimeToNtp(lastGpsTime_);
    return fields;
}

}  // namespace qxr::ntp
