// The NTP server: answers the clients' requests on a UDP port with the card's time
// (ServedClock), fed by the synchronizer loop through a ReadingHandover. It never calls the
// card library. Each request is checked against the allow list, the packet rules and the
// per-client rate limit; the receive timestamp is taken as soon as the request has been
// read, the transmit timestamp just before the reply is sent.
//
// IPv4 always; IPv6 as well where the system has it (a system without it, such as NT 4.0,
// refuses the socket and the server goes on with IPv4 alone).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ports/datagram_sockets.h"
#include "platform/ports/system_clock.h"
#include "sync_service/ntp_server/ntp_rate_limit.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/ntp_server/reading_handover.h"
#include "sync_service/ntp_server/served_clock.h"

namespace qxr::ntp {

struct NtpServerCounts {
    uint64_t answered = 0;
    uint64_t malformed = 0;  // not a request we answer
    uint64_t refused = 0;    // from a network not allowed
    uint64_t limited = 0;    // over the rate limit
};

// What the last answered request was told, for the performance counters: written by the
// thread that serves, read by the synchronizer loop's.
struct NtpServedSummary {
    std::atomic<uint32_t> synchronised{0};      // 1 when its leap indicator was not 3
    std::atomic<uint32_t> rootDispersionUs{0};  // its root dispersion
};

class NtpServer {
  public:
    NtpServer(platform::DatagramSockets& sockets, platform::PerformanceCounter& counter,
              platform::SystemClock& clock, ReadingHandover& handover, const NtpSettings& settings);
    ~NtpServer();
    NtpServer(const NtpServer&) = delete;
    NtpServer& operator=(const NtpServer&) = delete;

    // Opens the sockets on the settings' port: 0, or the Winsock error of the IPv4 socket
    // (nothing is then open).
    int Open();
    bool IsOpen() const { return socketCount_ > 0; }
    WORD Port() const { return port_; }
    // Waits up to `timeoutMs` for a request, then answers every one waiting.
    void Serve(DWORD timeoutMs);
    // Answers every request waiting, without waiting for more.
    void ServeWaiting();
    void Close();
    const NtpServerCounts& Counts() const { return counts_; }
    const NtpServedSummary& Served() const { return summary_; }

  private:
    void ServeSocket(platform::SOCKET s);
    // The card's time at `counter`, or the system clock's before the first card reading.
    int64_t TimeAt(int64_t counter);
    int64_t Counter();

    platform::DatagramSockets& sockets_;
    platform::PerformanceCounter& counter_;
    platform::SystemClock& clock_;
    ReadingHandover& handover_;
    NtpAllowList allow_;
    NtpRateLimiter limiter_;
    WORD port_;
    int64_t frequency_ = 0;
    ServedClock served_;
    platform::SOCKET sockets_open_[2] = {platform::kInvalidSocket, platform::kInvalidSocket};
    int socketCount_ = 0;
    NtpServerCounts counts_;
    NtpServedSummary summary_;
};

}  // namespace qxr::ntp
