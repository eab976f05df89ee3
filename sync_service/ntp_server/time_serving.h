// The NTP server as the service runs it: the hand-over from the synchronizer loop, the
// server, and its threads, one per socket (IPv4, IPv6). The loop only hands readings over
// (never waiting); each thread waits in a blocking receive for a request and answers it, the
// two within one CPU budget; after repeated socket failures a thread reports them once and
// opens its socket again; stopping waits for the threads (each ends within a wake-up) and
// closes the port, so that a new start can bind it at once.
//
// Why blocking receives on a thread per socket, not select and a non-blocking drain: every
// Winsock call is a round trip to wineserver under Wine, and one request then costs a
// receive and a send instead of a select, a receive, a send and a receive that would block
// (measured: see the README's load figures).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "card_access/qxrtime.h"
#include "platform/ports/datagram_sockets.h"
#include "platform/ports/platform.h"
#include "sync_service/ntp_server/ntp_server.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/ntp_server/reading_handover.h"

namespace qxr::ntp {

class TimeServing {
  public:
    enum class Mode {
        kOwnThread,    // a thread of its own serves (the service)
        kCallerServes  // the caller calls ServeWaiting (the simulation, in virtual time)
    };
    // The receive time-out: how often a thread looks at its stop flag and takes the loop's
    // readings when no request comes (and about how long Stop waits for it).
    static constexpr DWORD kServeWaitMs = 100;
    // After a failing receive the thread waits this long; after this many failures in a row
    // it reports them (once) and opens its socket again.
    static constexpr DWORD kFailureWaitMs = 100;
    static constexpr int kFailuresBeforeReopen = 5;
    // The CPU budget's window: busy at most the settings' share of it.
    static constexpr DWORD kBudgetWindowMs = 100;

    TimeServing(platform::Platform& ports, platform::DatagramSockets& sockets,
                const NtpSettings& settings, Mode mode);
    ~TimeServing();
    TimeServing(const TimeServing&) = delete;
    TimeServing& operator=(const TimeServing&) = delete;

    // Opens the port and starts serving: 0, or the Winsock (or thread) error.
    int Start();
    void Stop();
    WORD Port() const { return server_.Port(); }

    // Loop side.
    int64_t Counter();
    void NoteStatus(int32_t reference);
    // A time request made at counter `before` (`time` null when it failed).
    void NoteTime(const CardTime* time, int64_t before);

    void ServeWaiting() { server_.ServeWaiting(); }
    const NtpServerCounts& Counts() const { return server_.Counts(); }
    bool TryCopyCounts(NtpServerCounts* out) { return server_.TryCopyCounts(out); }
    // The IPv6 socket's error at the start (0: open, or no IPv6 on this system).
    int Ipv6Error() const { return server_.Ipv6Error(); }
    // Called from a serving thread with the Winsock error when its socket keeps failing.
    void OnReceiveFailing(std::function<void(int error)> report) {
        onReceiveFailing_ = std::move(report);
    }
    const NtpServedSummary& Served() const { return server_.Served(); }

  private:
    struct Worker {
        TimeServing* serving;
        int index;  // the server's socket
    };
    static DWORD Thread(LPVOID worker);
    void ServeUntilStopped(int index);
    // The budget's share of a wake-up busy from `wokeAt` to `now`: how long to pause, in ms.
    DWORD Charge(int64_t wokeAt, int64_t now);
    // Sleeps `ms` in slices, ending early when asked to stop.
    void Pause(DWORD ms);

    platform::Platform& ports_;
    Mode mode_;
    int64_t frequency_ = 0;
    int32_t noted_ = 0;  // the loop's last status
    DWORD cpuPercent_;
    std::function<void(int error)> onReceiveFailing_;
    ReadingHandover handover_;
    NtpServer server_;
    Worker workers_[2] = {};
    std::atomic<bool> stop_{false};
    std::atomic<int> threadsRunning_{0};
    // The CPU budget the threads share.
    sync::ServiceLock budgetLock_;
    int64_t windowStart_ = 0;
    int64_t busy_ = 0;
    int64_t resumeAt_ = 0;
};

}  // namespace qxr::ntp
