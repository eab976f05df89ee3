#include "sync_service/ntp_server/ntp_rate_limit.h"

#include <cstring>

namespace qxr::ntp {

namespace {

// An IPv6 client is its /64: one host may take any address of its network at will.
void KeyOf(const platform::SocketAddress& address, uint64_t key[2]) {
    std::memcpy(key, address.address, 16);
    if (address.family == platform::kAfInet6) key[1] = 0;
    key[1] ^= static_cast<uint64_t>(address.family) << 56;
}

uint32_t Hash(const uint64_t key[2]) {
    uint64_t h = key[0] * 0x9E3779B97F4A7C15ull ^ key[1] * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    return static_cast<uint32_t>(h);
}

}  // namespace

bool NtpRateLimiter::Admit(const platform::SocketAddress& address, uint64_t nowMs) {
    if (settings_.intervalS == 0) return true;
    const uint64_t intervalMs = uint64_t{settings_.intervalS} * 1000;
    const uint64_t fullMs = intervalMs * (settings_.burst == 0 ? 1 : settings_.burst);
    uint64_t key[2];
    KeyOf(address, key);
    Entry* set = &entries_[(Hash(key) % (kSlots / kWays)) * kWays];
    Entry* entry = nullptr;
    Entry* oldest = &set[0];
    for (int i = 0; i < kWays; ++i) {
        if (set[i].used && set[i].key[0] == key[0] && set[i].key[1] == key[1]) {
            entry = &set[i];
            break;
        }
        if (!set[i].used || (oldest->used && set[i].lastMs < oldest->lastMs)) oldest = &set[i];
    }
    if (entry == nullptr) {
        entry = oldest;
        *entry = Entry{{key[0], key[1]}, nowMs, fullMs, 0, true};
    }
    // Credit grows with the time since the last request, up to a whole burst.
    const uint64_t since = nowMs >= entry->lastMs ? nowMs - entry->lastMs : 0;
    entry->lastMs = nowMs;
    entry->creditMs = entry->creditMs + since >= fullMs ? fullMs : entry->creditMs + since;
    if (entry->creditMs >= intervalMs) {
        entry->creditMs -= intervalMs;
        return true;
    }
    if (settings_.leak == 0) return false;
    return ++entry->excess % settings_.leak == 0;
}

}  // namespace qxr::ntp
