#include "sync_service/sync_parameters.h"

#include <cstdio>

namespace qxr::sync {

namespace {

struct ParameterEntry {
    const char* name;
    int32_t SyncParameters::*field;
};

// In the order they are read and seeded.
constexpr ParameterEntry kEntries[] = {
    {"LogThreshold", &SyncParameters::logThreshold},
    {"MsgThreshold", &SyncParameters::msgThreshold},
    {"LogSecsNoGPS", &SyncParameters::logSecsNoGps},
    {"MsgSecsNoGPS", &SyncParameters::msgSecsNoGps},
    {"MaxAdjustPct", &SyncParameters::maxAdjustPct},
    {"RampDuration", &SyncParameters::rampDuration},
    {"TimeSetBias", &SyncParameters::timeSetBias},
};

class KeyGuard {
  public:
    KeyGuard(platform::Registry& registry, HKEY key) : registry_(registry), key_(key) {}
    ~KeyGuard() { registry_.RegCloseKey(key_); }
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

  private:
    platform::Registry& registry_;
    HKEY key_;
};

}  // namespace

void ParametersKeyName(const char* serviceName, char* out, int size) {
    std::snprintf(out, static_cast<std::size_t>(size),
                  "SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters", serviceName);
}

void ReadSyncParameters(platform::Registry& registry, const char* serviceName,
                        SyncParameters* parameters, TrackingLogSettings* tracking,
                        ntp::NtpSettings* ntp) {
    char keyName[kParametersKeySize];
    ParametersKeyName(serviceName, keyName, sizeof keyName);
    HKEY key = nullptr;
    if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        KeyGuard guard(registry, key);
        for (const ParameterEntry& entry : kEntries) {
            int32_t value = 0;
            DWORD type = 0;
            DWORD size = sizeof value;
            if (registry.RegQueryValueExA(key, entry.name, &type, reinterpret_cast<BYTE*>(&value),
                                          &size) == ERROR_SUCCESS &&
                size == sizeof value) {
                parameters->*entry.field = value;
            }
        }
        if (tracking != nullptr) ReadTrackingLogSettings(registry, key, tracking);
        if (ntp != nullptr) ntp::ReadNtpSettings(registry, key, ntp);
    }
    SanitizeSyncParameters(parameters);
}

bool SeedSyncParameters(platform::Registry& registry, const char* serviceName) {
    char keyName[kParametersKeySize];
    ParametersKeyName(serviceName, keyName, sizeof keyName);
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (registry.RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key,
                                 &disposition) != ERROR_SUCCESS) {
        return false;
    }
    KeyGuard guard(registry, key);
    const SyncParameters defaults;
    for (const ParameterEntry& entry : kEntries) {
        int32_t present = 0;
        DWORD type = 0;
        DWORD size = sizeof present;
        // Only a value that is missing or too long is replaced: a query that fails for any
        // other reason says nothing about the value, which may be an operator's setting.
        const LSTATUS queried = registry.RegQueryValueExA(key, entry.name, &type,
                                                          reinterpret_cast<BYTE*>(&present), &size);
        if (queried != ERROR_FILE_NOT_FOUND && queried != ERROR_MORE_DATA) continue;
        const int32_t value = defaults.*entry.field;
        registry.RegSetValueExA(key, entry.name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value);
    }
    return true;
}

void SanitizeSyncParameters(SyncParameters* parameters) {
    const SyncParameters defaults;
    if (parameters->rampDuration < kMinRampDuration ||
        parameters->rampDuration > kMaxRampDuration) {
        parameters->rampDuration = defaults.rampDuration;
    }
}

}  // namespace qxr::sync
