// The NTP server as the service runs it: the hand-over from the synchronizer loop, the
// server, and the thread that serves. The loop only hands readings over (never waiting);
// the thread waits for requests and answers them, within a CPU budget; after repeated socket
// failures it reports them once and opens its port again; stopping waits for the thread
// (which ends within a wake-up and a batch) and closes the port, so that a new start can
// bind it at once.
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
    // How often the thread looks at its stop flag (and how long Stop may wait for it).
    static constexpr DWORD kServeWaitMs = 100;
    // After a failing wait or receive the thread waits this long; after this many failures
    // in a row it reports them (once) and opens its port again.
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
    // The IPv6 socket's error at the start (0: open, or no IPv6 on this system).
    int Ipv6Error() const { return server_.Ipv6Error(); }
    // Called from the serving thread with the Winsock error when its sockets keep failing.
    void OnReceiveFailing(std::function<void(int error)> report) {
        onReceiveFailing_ = std::move(report);
    }

  private:
    static DWORD Thread(LPVOID self);
    void ServeUntilStopped();
    // Sleeps `ms` in slices, ending early when asked to stop.
    void Pause(DWORD ms);

    platform::Platform& ports_;
    Mode mode_;
    int64_t frequency_ = 0;
    DWORD cpuPercent_;
    std::function<void(int error)> onReceiveFailing_;
    ReadingHandover handover_;
    NtpServer server_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> threadRunning_{false};
};

}  // namespace qxr::ntp
