// The NTP server's registry values under the service's Parameters key. None is seeded at
// installation: without "NtpServer" = 1 the server stays off.
//   "NtpServer"       REG_DWORD     1 = answer NTP clients; missing or 0 = off
//   "NtpPort"         REG_DWORD     UDP port, default 123
//   "NtpAllow"        REG_MULTI_SZ  client networks answered ("192.168.1.0/24", "fd00::/8");
//                                   missing = everyone; present, nothing valid = nobody
//   "NtpRateInterval" REG_DWORD     s between requests a client may send, default 8; 0 = no limit
//   "NtpRateBurst"    REG_DWORD     requests answered at once, default 8
//   "NtpRateLeak"     REG_DWORD     one in this many excess requests answered, default 4; 0 = none
//   "NtpCpuPercent"   REG_DWORD     the server's CPU budget, percent of each 100 ms, default 20
//                                   (1 to 100; 100 = no budget)
#pragma once

#include "platform/ports/registry.h"
#include "sync_service/ntp_server/ntp_allow_list.h"
#include "sync_service/ntp_server/ntp_rate_limit.h"

namespace qxr::ntp {

inline constexpr WORD kDefaultNtpPort = 123;
inline constexpr DWORD kDefaultNtpCpuPercent = 20;

// A value or an NtpAllow entry that is ignored, for the event log: "The <kind> <name> <why>
// and is ignored."
struct IgnoredSetting {
    static constexpr int kNameSize = 64;
    char name[kNameSize] = {};  // cut to fit
    const char* kind = "";
    const char* why = "";
};

struct NtpSettings {
    static constexpr int kMaxRejected = 8;
    static constexpr int kRejectedSize = IgnoredSetting::kNameSize;

    bool enabled = false;
    WORD port = kDefaultNtpPort;
    NtpAllowList allow;
    RateLimitSettings rate;
    DWORD cpuPercent = kDefaultNtpCpuPercent;
    IgnoredSetting rejected[kMaxRejected];
    int rejectedCount = 0;
    bool serverValueIgnored = false;  // "NtpServer" itself was of the wrong type
};

// Reads the values from the open Parameters key. A value that is not a REG_DWORD of 4 bytes
// is ignored (its default stays) and named in `rejected`; an NtpAllow that is not a string
// list, or too long to read, answers nobody.
void ReadNtpSettings(platform::Registry& registry, HKEY parameters, NtpSettings* settings);

}  // namespace qxr::ntp
