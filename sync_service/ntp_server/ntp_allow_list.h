// The client networks the NTP server answers ("a.b.c.d/n", "a.b.c.d", IPv6 "x:x::x/n"),
// from the NtpAllow registry value. No list at all answers everyone; a list whose entries
// all fail to parse answers nobody, so that a typing error never opens the server.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ports/datagram_sockets.h"

namespace qxr::ntp {

class NtpAllowList {
  public:
    static constexpr int kMaxNetworks = 64;

    // Answer everyone.
    void AllowAll() {
        restricted_ = false;
        count_ = 0;
    }
    // From here on only the networks added are answered.
    void Restrict() { restricted_ = true; }
    // False (and nothing added) when `entry` names no network or the list is full.
    bool Add(const char* entry);
    bool Allows(const platform::SocketAddress& address) const;
    bool Restricted() const { return restricted_; }
    int Count() const { return count_; }

  private:
    struct Network {
        int family;
        uint8_t bytes[16];
        int prefix;
    };
    bool restricted_ = false;
    int count_ = 0;
    Network networks_[kMaxNetworks] = {};
};

// Address parsing for the list; exposed for the load generator and the tests.
bool ParseIpv4(const char* text, size_t length, uint8_t out[4]);
bool ParseIpv6(const char* text, size_t length, uint8_t out[16]);

}  // namespace qxr::ntp
