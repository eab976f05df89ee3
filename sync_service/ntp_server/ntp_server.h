// The NTP server: answers the clients' requests on a UDP port with the card's time
// (ServedClock), fed by the synchronizer loop through a ReadingHandover. It never calls the
// card library. Each request is checked against the allow list, the packet rules and the
// per-client rate limit; the receive timestamp is taken as soon as the request has been
// read, the transmit timestamp just before the reply is sent.
//
// IPv4 always; IPv6 as well where the system has it (a system without it, such as NT 4.0,
// refuses the socket and the server goes on with IPv4 alone; any other IPv6 failure is
// kept for the event log).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ports/datagram_sockets.h"
#include "platform/ports/system_clock.h"
#include "sync_service/ntp_server/ntp_rate_limit.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/ntp_server/reading_handover.h"
#include "sync_service/ntp_server/served_clock.h"
#include "sync_service/service_lock.h"

namespace qxr::ntp {

struct NtpServerCounts {
    uint64_t answered = 0;
    uint64_t malformed = 0;  // not a request we answer (an oversized datagram included)
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
    // (nothing is then open). `receiveTimeoutMs` 0: non-blocking sockets, for ServeWaiting;
    // otherwise each socket's ServeOne waits up to that long.
    int Open(DWORD receiveTimeoutMs = 0);
    bool IsOpen() const { return socketCount_ > 0; }
    WORD Port() const { return port_; }
    // The sockets opened: 0 IPv4, 1 IPv6 where it opened.
    int SocketCount() const { return socketCount_; }
    // The Winsock error of the IPv6 socket at the last Open, 0 when it opened or the system
    // has no IPv6 at all.
    int Ipv6Error() const { return ipv6Error_; }
    // One wake-up of socket `index`'s own thread: waits (the receive time-out) for a
    // datagram, takes the loop's readings whatever ended the wait, and answers the datagram.
    // `wokeAt` gets the counter when the wait ended. 0, or the Winsock error of a failing
    // receive. Safe to call for each socket from a thread of its own.
    int ServeOne(int index, int64_t* wokeAt);
    // Closes socket `index` and opens it again: 0 or the Winsock error (it then stays
    // closed, and ServeOne fails until a reopening succeeds).
    int Reopen(int index);
    // Takes the loop's readings and answers every request waiting, without waiting for more.
    void ServeWaiting();
    // Applies what the loop has handed over since the last take: at every wake-up, whether
    // a request came or not, so that no reading waits for a client.
    void TakeReadings();
    void Close();
    const NtpServerCounts& Counts() const { return counts_; }
    // The counts as of now, for a thread other than the serving ones: false (and `out`
    // untouched) while a serving thread holds them, so that the caller never waits.
    bool TryCopyCounts(NtpServerCounts* out);
    const NtpServedSummary& Served() const { return summary_; }

  private:
    int OpenSocket(int family, platform::SOCKET* s);
    // Checks and answers one datagram; under the lock but for the sending.
    void Answer(platform::SOCKET s, const uint8_t* request, int size,
                const platform::SocketAddress& from, int64_t received);
    void TakeReadingsLocked();
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
    DWORD receiveTimeoutMs_ = 0;
    platform::SOCKET sockets_open_[2] = {platform::kInvalidSocket, platform::kInvalidSocket};
    int families_[2] = {platform::kAfInet, platform::kAfInet6};
    int socketCount_ = 0;
    int ipv6Error_ = 0;
    // The state both sockets' threads share: the fit, the rate table, the counts.
    sync::ServiceLock lock_;
    NtpServerCounts counts_;
    NtpServedSummary summary_;
};

}  // namespace qxr::ntp
