#include "sync_service/ntp_server/ntp_settings.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace qxr::ntp {

namespace {

constexpr DWORD kMaxAllowBytes = 8192;
constexpr DWORD kMaxRateInterval = 86400;
constexpr DWORD kMaxRateBurst = 1024;

bool ReadDword(platform::Registry& registry, HKEY key, const char* name, DWORD* value) {
    DWORD type = 0, size = sizeof *value, read = 0;
    if (registry.RegQueryValueExA(key, name, &type, reinterpret_cast<BYTE*>(&read), &size) !=
            ERROR_SUCCESS ||
        size != sizeof read) {
        return false;
    }
    *value = read;
    return true;
}

void Reject(NtpSettings* settings, const char* entry, size_t length) {
    if (settings->rejectedCount == NtpSettings::kMaxRejected) return;
    char* out = settings->rejected[settings->rejectedCount++];
    const size_t n =
        length < NtpSettings::kRejectedSize - 1 ? length : NtpSettings::kRejectedSize - 1;
    std::memcpy(out, entry, n);
    out[n] = '\0';
}

// One entry, without the blanks around it; empty entries (the list's end) are skipped.
void AddEntry(NtpSettings* settings, const char* entry, size_t length) {
    while (length > 0 && (*entry == ' ' || *entry == '\t')) ++entry, --length;
    while (length > 0 && (entry[length - 1] == ' ' || entry[length - 1] == '\t')) --length;
    if (length == 0) return;
    char text[NtpSettings::kRejectedSize];
    if (length >= sizeof text) {
        Reject(settings, entry, length);
        return;
    }
    std::memcpy(text, entry, length);
    text[length] = '\0';
    if (!settings->allow.Add(text)) Reject(settings, entry, length);
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
        Reject(settings, what, std::strlen(what));
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
    if (ReadDword(registry, parameters, "NtpServer", &value)) settings->enabled = value == 1;
    if (ReadDword(registry, parameters, "NtpPort", &value) && value >= 1 && value <= 65535) {
        settings->port = static_cast<WORD>(value);
    }
    if (ReadDword(registry, parameters, "NtpRateInterval", &value)) {
        settings->rate.intervalS = value < kMaxRateInterval ? value : kMaxRateInterval;
    }
    if (ReadDword(registry, parameters, "NtpRateBurst", &value)) {
        settings->rate.burst = value < 1 ? 1 : value > kMaxRateBurst ? kMaxRateBurst : value;
    }
    if (ReadDword(registry, parameters, "NtpRateLeak", &value)) settings->rate.leak = value;
    ReadAllowList(registry, parameters, settings);
}

}  // namespace qxr::ntp
