// Per-client rate limiting in the manner of chrony's: each address (an IPv6 client: its /64)
// may send a burst, then one
// request per interval; of the requests beyond that, one in `leak` is still answered, so that
// a client whose address an attacker forges keeps some service. The table has a fixed size:
// under a flood from many addresses the least recently seen entries give way.
#pragma once

#include <cstdint>

#include "platform/ports/datagram_sockets.h"

namespace qxr::ntp {

struct RateLimitSettings {
    uint32_t intervalS = 8;  // one request per this many seconds; 0 = no limit
    uint32_t burst = 8;      // requests answered at once from a quiet address
    uint32_t leak = 4;       // one in this many excess requests answered; 0 = none
};

class NtpRateLimiter {
  public:
    static constexpr int kSlots = 4096;
    static constexpr int kWays = 4;

    explicit NtpRateLimiter(const RateLimitSettings& settings = RateLimitSettings{})
        : settings_(settings) {}

    // True when a request from `address` at `nowMs` (any monotonic millisecond count) is to
    // be answered.
    bool Admit(const platform::SocketAddress& address, uint64_t nowMs);
    const RateLimitSettings& Settings() const { return settings_; }

  private:
    struct Entry {
        uint64_t key[2];
        uint64_t lastMs;
        uint64_t creditMs;  // requests in hand, as time worth of intervals
        uint32_t excess;
        bool used;
    };
    RateLimitSettings settings_;
    Entry entries_[kSlots] = {};
};

}  // namespace qxr::ntp
