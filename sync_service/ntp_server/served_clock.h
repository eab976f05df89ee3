// The NTP server's clock and what it says about itself: the card's time carried forward
// with the performance counter (CardClockFit), and from the card's state the leap indicator,
// stratum, reference, reference timestamp and root dispersion of every reply.
//
// Synchronised (LI 0, stratum 1, "GPS") once a time reading has been taken on GPS, while the
// card has a reference and its last time reading succeeded, and as long as the root
// dispersion - the card's millisecond resolution plus 15 ppm of the time since the last
// reading on GPS - stays within a second. Otherwise unsynchronised: LI 3, stratum 0,
// reference id 0.
#pragma once

#include <cstdint>

#include "sync_service/ntp_server/card_clock_fit.h"
#include "sync_service/ntp_server/card_reading.h"
#include "sync_service/ntp_server/ntp_packet.h"

namespace qxr::ntp {

inline constexpr uint32_t kReferenceIdGps = 0x47505300u;  // "GPS"
inline constexpr int64_t kCardResolution = 10000;         // 1 ms, 100-ns units
inline constexpr int64_t kWanderPpm = 15;
inline constexpr int64_t kMaxDispersion = 10000000;  // 1 s

class ServedClock {
  public:
    explicit ServedClock(int64_t counterFrequency);

    void Apply(const CardReading& reading);
    // The card's time at counter value `counter`; false before the first time reading.
    bool TimeAt(int64_t counter, int64_t* cardTime) const { return fit_.TimeAt(counter, cardTime); }
    // The reply's fields at card time `now` (from TimeAt).
    NtpServerFields Fields(int64_t now) const;

  private:
    CardClockFit fit_;
    int8_t precision_;
    int32_t reference_ = 0;
    bool statusSeen_ = false;
    bool timeReadable_ = false;
    bool gpsReadingSeen_ = false;
    int64_t lastGpsTime_ = 0;
    int64_t uncertainty_ = 0;
};

}  // namespace qxr::ntp
