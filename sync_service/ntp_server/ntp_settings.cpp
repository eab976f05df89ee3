#include "sync_service/ntp_server/ntp_settings.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace qxr::ntp {

namespace {

constexpr DWORD kMaxAllowBytes = 8192;
constexpr DWORD kMaxRateInterval = 86400;
constexpr DWORD kMaxRateBurst = 1024;

constexpr const char* kAllowEntry = "NtpAllow entry";
constexpr const char* kNotANetwork = "is not a network";
static_assert(NtpAllowList::kMaxNetworks == 64, "the event text names the table's size");

void Reject(NtpSettings* settings, const char* kind, const char* name, size_t length,
            const char* why) {
    if (settings->rejectedCount == NtpSettings::kMaxRejected) return;
    IgnoredSetting& out = settings->rejected[settings->rejectedCount++];
    const size_t n =
        length < NtpSettings::kRejectedSize - 1 ? length : NtpSettings::kRejectedSize - 1;
    std::memcpy(out.name, name, n);
    out.name[n] = '\0';
    out.kind = kind;
    out.why = why;
}

// A REG_STRING "100" read as 4 bytes would be 3,158,065: only a REG_DWORD counts.
bool ReadDword(platform::Registry& registry, HKEY key, const char* name, DWORD* value,
               NtpSettings* settings) {
    DWORD type = 0, size = sizeof *value, read = 0;
    const LSTATUS status =
        registry.RegQueryValueExA(key, name, &type, reinterpret_cast<BYTE*>(&read), &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof read) {
        Reject(settings, "registry value", name, std::strlen(name), "is not a REG_DWORD");
        return false;
    }
    *value = read;
    return true;
}

// One entry, without the blanks around it; empty entries (the list's end) are skipped.
void AddEntry(NtpSettings* settings, const char* entry, size_t length) {
    while (length > 0 && (*entry == ' ' || *entry == '\t')) ++entry, --length;
    while (length > 0 && (entry[length - 1] == ' ' || entry[length - 1] == '\t')) --length;
    if (length == 0) return;
    if (settings->allow.Count() == NtpAllowList::kMaxNetworks) {
        Reject(settings, kAllowEntry, entry, length, "is beyond the 64 entries the list holds");
        return;
    }
    char text[NtpSettings::kRejectedSize];
    if (length >= sizeof text) {
        Reject(settings, kAllowEntry, entry, length, kNotANetwork);
        return;
    }
    std::memcpy(text, entry, length);
    text[length] = '\0';
    if (!settings->allow.Add(text)) Reject(settings, kAllowEntry, entry, length, kNotANetwork);
}

void ReadAllowList(platform::Registry& registry, HKEY key, NtpSettings* settings) {
    std::vector<char> text(kMaxAllowBytes);  // read once, at the service's start
    char* buffer = text.data();
    DWORD type = 0, size = kMaxAllowBytes;
    const LSTATUS status =
        registry.RegQueryValueExA(key, "NtpAllow", &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status == ERROR_FILE_NOT_FOUND) return;  // everyone
    settings->allow.Restrict();
    if (status != ERROR_SUCCESS || (type != REG_MULTI_SZ && type != REG_SZ)) {
        const char* what = status == ERROR_MORE_DATA ? "(too long)" : "(not a string list)";
        Reject(settings, kAllowEntry, what, std::strlen(what), kNotANetwork);
        return;
    }
    size_t at = 0;
    const size_t end = size <= kMaxAllowBytes ? size : kMaxAllowBytes;
    while (at < end) {
        size_t stop = at;
        while (stop < end && buffer[stop] != '\0') ++stop;
        AddEntry(settings, buffer + at, stop - at);
        at = stop + 1;
    }
}

}  // namespace

void ReadNtpSettings(platform::Registry& registry, HKEY parameters, NtpSettings* settings) {
    DWORD value = 0;
    const int before = settings->rejectedCount;
    if (ReadDword(registry, parameters, "NtpServer", &value, settings)) {
        settings->enabled = value == 1;
    }
    settings->serverValueIgnored = settings->rejectedCount != before;
    if (ReadDword(registry, parameters, "NtpPort", &value, settings) && value >= 1 &&
        value <= 65535) {
        settings->port = static_cast<WORD>(value);
    }
    if (ReadDword(registry, parameters, "NtpRateInterval", &value, settings)) {
        settings->rate.intervalS = value < kMaxRateInterval ? value : kMaxRateInterval;
    }
    if (ReadDword(registry, parameters, "NtpRateBurst", &value, settings)) {
        settings->rate.burst = value < 1 ? 1 : value > kMaxRateBurst ? kMaxRateBurst : value;
    }
    if (ReadDword(registry, parameters, "NtpRateLeak", &value, settings)) {
        settings->rate.leak = value;
    }
    if (ReadDword(registry, parameters, "NtpCpuPercent", &value, settings)) {
        settings->cpuPercent = value < 1 ? 1 : value > 100 ? 100 : value;
    }
    ReadAllowList(registry, parameters, settings);
}

}  // namespace qxr::ntp
