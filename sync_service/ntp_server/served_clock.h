// The NTP server's clock and what it says about itself: the card's time carried forward
// with the performance counter (CardClockFit), and from the card's state the leap indicator,
// stratum, reference, reference timestamp and root dispersion of every reply.
//
// Synchronised (LI 0, stratum 1, "GPS") only while all of these hold: the card has a
// reference and its last time reading succeeded; the fit's line has been confirmed by
// kConfirmReadings consecutive readings on GPS since it last started (the first reading, or
// one off the line: the card set, its clock put right); a reading on GPS has been taken on
// that line (a line started off GPS forgets the last GPS reading); the newest reading is no
// older than AgeLimit (a stalled loop, a card that no longer answers); the reference time is
// not later than now; and the root dispersion stays within a second. Otherwise
// unsynchronised: LI 3, stratum 0, reference id 0.
//
// The root dispersion covers the served time's real error: the card's millisecond
// resolution; the request's own uncertainty when the driver gave no latch; the fit's worst
// residual beyond the half millisecond the resolution already covers (a line that no longer
// fits); the line's slope error carried past the newest reading (a resolution's worth over
// the fit's span); 15 ppm of the time since the last reading on GPS (the card's on-board
// clock); and the restart threshold while the card is back on GPS with readings of its
// on-board clock still in the line (its clock put right by less than the threshold does not
// restart the fit).
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
// Readings on GPS in a row that must agree with a new line before it is served: 70 s of
// readings at the default RampDuration. One wrong reading (a latch that slipped through, a
// card set and put right by its receiver soon after) is then never served, and the line's
// slope, drawn through readings of whole milliseconds, is good enough to carry the time to the
// next reading within half a millisecond: in simulation a line served after three readings
// was up to 0.74 ms off true UTC in its first minute, one served after eight up to 0.46 ms.
inline constexpr int kConfirmReadings = 8;
// The newest reading may be this old, or three of the intervals at which readings have been
// coming, whichever is longer: three correction intervals (RampDuration, 10 s by default)
// without a reading, and the server says it is unsynchronised.
inline constexpr int64_t kMinAgeLimit = 300000000;  // 30 s

class ServedClock {
  public:
    explicit ServedClock(int64_t counterFrequency);

    void Apply(const CardReading& reading);
    // The card's time at counter value `counter`; false before the first time reading.
    bool TimeAt(int64_t counter, int64_t* cardTime) const { return fit_.TimeAt(counter, cardTime); }
    // The reply's fields at card time `now` (from TimeAt).
    NtpServerFields Fields(int64_t now) const;
    // How old (card time) the newest reading may be while the server is synchronised.
    int64_t AgeLimit() const;

  private:
    void ApplyTime(const CardReading& reading);

    CardClockFit fit_;
    int8_t precision_;
    int32_t reference_ = 0;
    bool statusSeen_ = false;
    bool timeReadable_ = false;
    bool gpsReadingSeen_ = false;
    bool confirmed_ = false;  // the line has had kConfirmReadings readings on GPS in a row
    int gpsRun_ = 0;          // the newest readings on GPS in a row, on this line
    int64_t lastGpsTime_ = 0;
    int64_t newestTime_ = 0;
    int64_t readingInterval_ = 0;  // between the two newest readings on one line
    int64_t uncertainty_ = 0;
};

}  // namespace qxr::ntp
