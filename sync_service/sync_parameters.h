// The synchronizer's seven registry parameters: defaults, reading at start, seeding at
// installation. Each is a REG_DWORD under
// HKEY_LOCAL_MACHINE "SYSTEM\\CurrentControlSet\\Services\\<service>\\Parameters".
#pragma once

#include <cstdint>

#include "platform/ports/registry.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/tracking_log.h"

namespace qxr::sync {

struct SyncParameters {
    int32_t logThreshold = 100;  // ms; an offset at least this large is logged, 0 = never
    int32_t msgThreshold = 100;  // kept for compatibility; nothing depends on it
    int32_t logSecsNoGps = 10;   // s a non-GPS reference must last before it is logged
    int32_t msgSecsNoGps = 10;   // s from a change until the GPS-off-line pop-up
    int32_t maxAdjustPct = 100;  // largest slew rate change, percent
    int32_t rampDuration = 10;   // s per slew, and the correction period
    int32_t timeSetBias = 15;    // 100 us units
};

// A ramp of 0 or less gives way to the default: the engine could only step with it, and at 0
// the correction interval (negative, taken unsigned) would never elapse. So does a ramp above
// 4,294,967 s, whose interval in milliseconds no longer fits the 32-bit tick arithmetic.
// Every other ramp, and every percentage, is the engine's to handle: it keeps the ramp in 64
// bits, forms the limits' products exactly and sets in one step what no 32-bit rate can slew.
inline constexpr int32_t kMinRampDuration = 1;
inline constexpr int32_t kMaxRampDuration = 4294967;

// Size of the parameters key name buffer.
inline constexpr int kParametersKeySize = 160;
void ParametersKeyName(const char* serviceName, char* out, int size);

// Reads every value present with exactly 4 bytes of data (whatever its type); the others keep
// the settings they had. A missing key leaves all of them. Then a ramp outside its range falls
// back to its default. With `tracking`, the tracking log's two values are read from the same
// key (they are not among the seven: installation does not seed them); with `ntp`, the NTP
// server's values likewise.
void ReadSyncParameters(platform::Registry& registry, const char* serviceName,
                        SyncParameters* parameters, TrackingLogSettings* tracking = nullptr,
                        ntp::NtpSettings* ntp = nullptr);

// Writes the default of every value that is missing (or longer than 4 bytes); values present,
// and values whose query fails for another reason, stay as they are. False when the key
// cannot be created.
bool SeedSyncParameters(platform::Registry& registry, const char* serviceName);

// Puts a ramp the loop cannot use back to its default.
void SanitizeSyncParameters(SyncParameters* parameters);

}  // namespace qxr::sync
