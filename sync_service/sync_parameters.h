// The synchronizer's seven registry parameters: defaults, reading at start, seeding at
// installation. Each is a REG_DWORD under
// HKEY_LOCAL_MACHINE "SYSTEM\\CurrentControlSet\\Services\\<service>\\Parameters".
#pragma once

#include <cstdint>

#include "platform/ports/registry.h"

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

// Values outside these ranges cannot drive the engine or the loop and give way to the
// default: a ramp below 1 s would never correct; above a day its millisecond interval leaves
// the tick counter's range. A negative percentage breaks the slew limits (-100 divides by
// zero) and above 1000 % the limit arithmetic could overflow.
inline constexpr int32_t kMinRampDuration = 1;
inline constexpr int32_t kMaxRampDuration = 86400;
inline constexpr int32_t kMinMaxAdjustPct = 0;
inline constexpr int32_t kMaxMaxAdjustPct = 1000;

// Size of the parameters key name buffer.
inline constexpr int kParametersKeySize = 160;
void ParametersKeyName(const char* serviceName, char* out, int size);

// Reads every value present with exactly 4 bytes of data (whatever its type); the others keep
// the settings they had. A missing key leaves all of them. Then out-of-range values fall back
// to their defaults.
void ReadSyncParameters(platform::Registry& registry, const char* serviceName,
                        SyncParameters* parameters);

// Writes the default of every value that is missing (or longer than 4 bytes); values present
// stay as they are. False when the key cannot be created.
bool SeedSyncParameters(platform::Registry& registry, const char* serviceName);

// Puts values the engine or the loop cannot use back to their defaults.
void SanitizeSyncParameters(SyncParameters* parameters);

}  // namespace qxr::sync
