#include "sync_service/ntp_server/served_clock.h"

#include <algorithm>

namespace qxr::ntp {

namespace {
constexpr int32_t kGps = 1;
constexpr int64_t kHalfResolution = kCardResolution / 2;

int32_t ReferenceOf(int32_t raw) {
    // As the loop takes it: a stray value still names a reference.
    return static_cast<int32_t>(static_cast<uint32_t>(raw) % 3u);
}
}  // namespace

ServedClock::ServedClock(int64_t counterFrequency)
    : fit_(counterFrequency), precision_(PrecisionOf(counterFrequency)) {}

void ServedClock::Apply(const CardReading& reading) {
    switch (reading.kind) {
        case CardReading::kStatus:
            reference_ = ReferenceOf(reading.reference);
            statusSeen_ = true;
            break;
        case CardReading::kTime:
            ApplyTime(reading);
            break;
        case CardReading::kTimeFailed:
            timeReadable_ = false;
            break;
    }
}

void ServedClock::ApplyTime(const CardReading& reading) {
    if (reading.cardTime < 0) {  // before 1601: no time the card can have
        timeReadable_ = false;
        return;
    }
    const CardClockFit::AddResult added = fit_.Add(reading.counter, reading.cardTime);
    timeReadable_ = true;
    if (added == CardClockFit::kRepeated) return;
    const bool onGps = ReferenceOf(reading.reference) == kGps;
    if (added == CardClockFit::kRestarted) {
        confirmed_ = false;
        gpsRun_ = 0;
        readingInterval_ = 0;
        // The new line has nothing to do with the last reading on GPS.
        if (!onGps) gpsReadingSeen_ = false;
    } else if (reading.cardTime > newestTime_) {
        readingInterval_ = reading.cardTime - newestTime_;
    }
    newestTime_ = reading.cardTime;
    uncertainty_ = reading.uncertainty;
    if (onGps) {
        gpsRun_ = std::min(gpsRun_ + 1, CardClockFit::kReadings + 1);
        gpsReadingSeen_ = true;
        lastGpsTime_ = reading.cardTime;
        if (gpsRun_ >= kConfirmReadings) confirmed_ = true;
    } else {
        gpsRun_ = 0;
    }
}

int64_t ServedClock::AgeLimit() const {
    const int64_t learned = readingInterval_ < INT64_MAX / 3 ? 3 * readingInterval_ : INT64_MAX;
    return std::max(kMinAgeLimit, learned);
}

NtpServerFields ServedClock::Fields(int64_t now) const {
    NtpServerFields fields;
    fields.precision = precision_;
    if (!statusSeen_ || reference_ == 0 || !timeReadable_ || !gpsReadingSeen_ || !confirmed_ ||
        fit_.Empty()) {
        return fields;
    }
    // A reference time later than now (beyond what the line's own error explains) can only
    // be a card set back in between.
    if (now < lastGpsTime_ - CardClockFit::kRestartTicks) return fields;
    const int64_t sinceReading = now > newestTime_ ? now - newestTime_ : 0;
    if (sinceReading > AgeLimit()) return fields;
    const int64_t age = now > lastGpsTime_ ? now - lastGpsTime_ : 0;
    const int64_t wander = age / (1000000 / kWanderPpm);
    const int64_t residual = std::max<int64_t>(0, fit_.MaxResidual() - kHalfResolution);
    // A slope through readings with a resolution's worth of error each, `span` apart, is off
    // by at most a resolution per span; until the line has a span, the counter's own rate.
    const int64_t span = fit_.Span();
    const double slope = span > 0
                             ? static_cast<double>(kCardResolution) *
                                   static_cast<double>(sinceReading) / static_cast<double>(span)
                             : static_cast<double>(sinceReading / (1000000 / kWanderPpm));
    const bool onboardInLine = reference_ == kGps && gpsRun_ < fit_.Count();
    const int64_t threshold = onboardInLine ? CardClockFit::kRestartTicks : 0;
    const double dispersion = static_cast<double>(kCardResolution) +
                              static_cast<double>(uncertainty_) + static_cast<double>(residual) +
                              slope + static_cast<double>(wander) + static_cast<double>(threshold);
    if (!(dispersion <= static_cast<double>(kMaxDispersion))) return fields;
    fields.leap = 0;
    fields.stratum = 1;
    fields.referenceId = kReferenceIdGps;
    fields.rootDispersion = NtpShortFromTicks(static_cast<int64_t>(dispersion));
    fields.reference = FileTimeToNtp(lastGpsTime_);
    return fields;
}

}  // namespace qxr::ntp
