// The service's registry readers against values of any type and size: the seven parameters
// read at start, seeded at installation, and the W32Time start type noted at installation and
// read back at removal. A value counts only with exactly 4 bytes of data; seeding replaces
// only what is missing or longer than 4 bytes; no key handle stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_console.h"
#include "sync_service/sync_parameters.h"
#include "sync_service/w32time_coordination.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;

constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Parameters";
constexpr char kNotedKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\W32Time";
constexpr const char* kNames[7] = {"LogThreshold", "MsgThreshold", "LogSecsNoGPS", "MsgSecsNoGPS",
                                   "MaxAdjustPct", "RampDuration", "TimeSetBias"};
constexpr int32_t sync::SyncParameters::*kFields[7] = {
    &sync::SyncParameters::logThreshold, &sync::SyncParameters::msgThreshold,
    &sync::SyncParameters::logSecsNoGps, &sync::SyncParameters::msgSecsNoGps,
    &sync::SyncParameters::maxAdjustPct, &sync::SyncParameters::rampDuration,
    &sync::SyncParameters::timeSetBias};

using sim::NullConsole;

// A value of any type and any size (mostly around 4 bytes), or none; false when none.
bool StoreAnyValue(FuzzedDataProvider& data, sim::SimRegistry& registry, const char* key,
                   const char* name, sim::SimRegistryValue* stored) {
    if (data.ConsumeIntegralInRange<int>(0, 3) == 0) return false;
    stored->type = data.ConsumeIntegral<DWORD>();
    const size_t size = data.ConsumeBool() ? data.ConsumeIntegralInRange<size_t>(0, 8)
                                           : data.ConsumeIntegralInRange<size_t>(0, 4096);
    stored->data = data.ConsumeBytes<BYTE>(size);
    registry.SetValue(key, name, stored->type, stored->data);
    return true;
}

int32_t Little(const std::vector<BYTE>& bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= uint32_t{bytes[i]} << (8 * i);
    return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    sim::SimMachine pc;
    const bool keyPresent = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    bool present[7] = {};
    sim::SimRegistryValue stored[7];
    if (keyPresent) {
        pc.registry.CreateKey(kParametersKey);
        for (int i = 0; i < 7; ++i) {
            present[i] = StoreAnyValue(data, pc.registry, kParametersKey, kNames[i], &stored[i]);
        }
    }

    // Read at start: 4-byte values of any type replace the defaults; a ramp the loop cannot
    // use falls back.
    sync::SyncParameters read;
    sync::ReadSyncParameters(pc.registry, "QxrSync", &read);
    const sync::SyncParameters defaults;
    for (int i = 0; i < 7; ++i) {
        int32_t expected = defaults.*kFields[i];
        if (present[i] && stored[i].data.size() == 4) expected = Little(stored[i].data);
        if (kFields[i] == &sync::SyncParameters::rampDuration &&
            (expected < sync::kMinRampDuration || expected > sync::kMaxRampDuration)) {
            expected = defaults.rampDuration;
        }
        QXR_FUZZ_CHECK(read.*kFields[i] == expected);
    }
    QXR_FUZZ_CHECK(pc.registry.OpenHandleCount() == 0);

    // Seeded at installation: values of up to 4 bytes stay as they were, type included.
    QXR_FUZZ_CHECK(sync::SeedSyncParameters(pc.registry, "QxrSync"));
    for (int i = 0; i < 7; ++i) {
        sim::SimRegistryValue now;
        QXR_FUZZ_CHECK(pc.registry.GetValue(kParametersKey, kNames[i], &now));
        if (present[i] && stored[i].data.size() <= 4) {
            QXR_FUZZ_CHECK(now.type == stored[i].type && now.data == stored[i].data);
        } else {
            DWORD value = 0;
            QXR_FUZZ_CHECK(now.type == REG_DWORD &&
                           pc.registry.GetDword(kParametersKey, kNames[i], &value));
            QXR_FUZZ_CHECK(static_cast<int32_t>(value) == defaults.*kFields[i]);
        }
    }
    QXR_FUZZ_CHECK(pc.registry.OpenHandleCount() == 0);

    // The noted W32Time start type, read at removal: only a 4-byte automatic or manual start
    // type is put back.
    sim::SimService w32time;
    w32time.name = sync::kW32TimeName;
    w32time.startType = SERVICE_DISABLED;
    pc.services.AddService(w32time);
    sim::SimRegistryValue noted;
    const bool notedPresent = StoreAnyValue(data, pc.registry, kNotedKey, "StartType", &noted);
    NullConsole console;
    sync::W32TimeCoordination(pc.services, pc.registry, console, "QxrSync").Restore();
    DWORD expectedStart = SERVICE_DISABLED;
    if (notedPresent && noted.data.size() == 4) {
        const DWORD value = static_cast<DWORD>(Little(noted.data));
        if (value == SERVICE_AUTO_START || value == SERVICE_DEMAND_START) expectedStart = value;
    }
    QXR_FUZZ_CHECK(pc.services.GetService(sync::kW32TimeName, &w32time));
    QXR_FUZZ_CHECK(w32time.startType == expectedStart);
    QXR_FUZZ_CHECK(pc.registry.OpenHandleCount() == 0 && pc.services.OpenHandleCount() == 0);
    return 0;
}
