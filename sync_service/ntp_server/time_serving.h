// The NTP server as the service runs it: the hand-over from the synchronizer loop, the
// server, and the thread that serves. The loop only hands readings over (never waiting);
// the thread waits for requests and answers them; stopping waits for the thread and closes
// the port, so that a new start can bind it at once.
#pragma once

#include <atomic>
#include <cstdint>

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
    // How long Stop waits for the thread, and how often the thread looks at its stop flag.
    static constexpr DWORD kStopWaitMs = 5000;
    static constexpr DWORD kServeWaitMs = 100;

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
    const NtpServedSummary& Served() const { return server_.Served(); }

  private:
    static DWORD Thread(LPVOID self);

    platform::Platform& ports_;
    Mode mode_;
    int64_t frequency_ = 0;
    ReadingHandover handover_;
    NtpServer server_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> threadRunning_{false};
};

}  // namespace qxr::ntp
