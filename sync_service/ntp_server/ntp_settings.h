// The NTP server's registry values under the service's Parameters key. None is seeded at
// installation: without "NtpServer" = 1 the server stays off.
//   "NtpServer"       REG_DWORD     1 = answer NTP clients; missing or 0 = off
//   "NtpPort"         REG_DWORD     UDP port, default 123
//   "NtpAllow"        REG_MULTI_SZ  client networks answered ("192.168.1.0/24", "fd00::/8");
//                                   missing = everyone; present, nothing valid = nobody
//   "NtpRateInterval" REG_DWORD     s between requests a client may send, default 8; 0 = no limit
//   "NtpRateBurst"    REG_DWORD     requests answered at once, default 8
//   "NtpRateLeak"     REG_DWORD     one in this many excess requests answered, default 4; 0 = none
#pragma once

#include "platform/ports/registry.h"
#include "sync_service/ntp_server/ntp_allow_list.h"
#include "sync_service/ntp_server/ntp_rate_limit.h"

namespace qxr::ntp {

inline constexpr WORD kDefaultNtpPort = 123;

struct NtpSettings {
    static constexpr int kMaxRejected = 8;
    static constexpr int kRejectedSize = 64;

    bool enabled = false;
    WORD port = kDefaultNtpPort;
    NtpAllowList allow;
    RateLimitSettings rate;
    // The NtpAllow entries that name no network (cut to fit), for the event log.
    char rejected[kMaxRejected][kRejectedSize] = {};
    int rejectedCount = 0;
};

// Reads the values from the open Parameters key. A value of the wrong size leaves its
// default; an NtpAllow that is not a string list, or too long to read, answers nobody.
void ReadNtpSettings(platform::Registry& registry, HKEY parameters, NtpSettings* settings);

}  // namespace qxr::ntp
