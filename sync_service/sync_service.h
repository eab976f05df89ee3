// SyncService: the QxrSync service. While it runs it polls the card every 500 ms, follows the
// card's active time reference, feeds the card's time to the clock discipline engine once per
// ramp period, writes reference changes and large offsets to the event log and warns the
// desktop user when a card with GPS has fallen back to its on-board clock.
#pragma once

#include <atomic>
#include <cstdint>

#include "card_access/card_client.h"
#include "perf_counters/counter_record.h"
#include "platform/ports/datagram_sockets.h"
#include "platform/ports/shared_sections.h"
#include "sync_service/nt_service.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/ntp_server/time_serving.h"
#include "sync_service/sync_parameters.h"
#include "sync_service/tracking_log.h"
#include "sync_service/tracking_log_writer.h"

namespace qxr::discipline {
class ClockDiscipline;
}

namespace qxr::sync {

inline constexpr char kSyncServiceName[] = "QxrSync";
inline constexpr char kSyncDisplayName[] = "QxrSync Time Synchronizer";
inline constexpr char kSyncDescription[] = "Keeps the computer clock synchronized to the QXR card";
inline constexpr char kPopupText[] =
    "GPS time reference is off line.  Using internal on-board clock as time reference.";
inline constexpr char kPopupCaption[] = "QxrSync Warning";
inline constexpr UINT kPopupStyle = MB_OK | MB_ICONEXCLAMATION | MB_SERVICE_NOTIFICATION;
inline constexpr DWORD kPollPeriodMs = 500;

class CorrectionWatch;
class CounterPublisher;

class SyncService : public CNTService {
  public:
    static constexpr int kWarningSize = 132;

    // The ports and the card are used, not owned; they must outlive the service.
    SyncService(platform::Platform ports, card_access::CardClient& card,
                platform::ConsoleOutput& console);
    ~SyncService() override;

    void Run() override;
    bool OnInit() override;
    void OnInstall() override;
    void OnRemove() override;

    // Lets the service answer NTP clients (when its registry says so) through `sockets`, which
    // must outlive it. Without this call the service never opens a socket.
    void ServeTimeWith(platform::DatagramSockets& sockets, ntp::TimeServing::Mode mode);
    // With ntp::TimeServing::Mode::kCallerServes: answers the requests waiting now. Only
    // while the loop runs, and from the loop's own (virtual) thread.
    void ServeWaitingTimeRequests();
    // Lets the service publish its figures for the performance counters in a section of
    // `sections`, which must outlive it. Without this call nothing is published.
    void PublishCountersWith(platform::SharedSections& sections) { sections_ = &sections; }
    // The NTP server's counts while it serves, else null.
    const ntp::NtpServerCounts* TimeServerCounts() const;
    const ntp::NtpSettings& TimeServerSettings() const { return ntp_; }

    const SyncParameters& Parameters() const { return parameters_; }
    const TrackingLogSettings& TrackingSettings() const { return tracking_; }
    // For diagnostics: the records made so far for the tracking log (only while one is set)
    // and the newest of them.
    int TrackedCount() const { return trackedCount_; }
    const TrackingRecord& LastTracked() const { return lastTracked_; }
    // True from the start of a pop-up thread until its box has been closed.
    bool IsWarningShowing() const { return warningShowing_.load(); }

  private:
    // The loop's own state; a tick of 0 is not armed.
    struct LoopState {
        int32_t currentReference = -1;
        int32_t loggedReference = -1;
        DWORD changeTick = 0;
        DWORD popupTick = 0;
        DWORD lastCorrectionTick = 0;
        DWORD correctionInterval = 0;
        DWORD logDelay = 0;
        DWORD popupDelay = 0;
        // The last readable card date was before the floor: nothing is corrected or served
        // from the card until a readable one is not; reported once per such spell.
        bool cardDateFalse = false;
        // The tracking log's writer, when a log is set.
        TrackingLogWriter* trackingLog = nullptr;
        // The NTP server, when one answers; it gets every status and time reading.
        ntp::TimeServing* serving = nullptr;
        // The tick at the start of the current pass.
        DWORD passTick = 0;
        // The figures for the performance counters, and where they go.
        perf::CounterValues counters;
        CounterPublisher* publisher = nullptr;
    };

    // One pass at tick `now`; false when the card status cannot be read (the loop must end).
    bool Pass(LoopState& state, discipline::ClockDiscipline& engine, CorrectionWatch& watch,
              DWORD now);
    void Correct(LoopState& state, discipline::ClockDiscipline& engine, CorrectionWatch& watch,
                 const CardStatus& status);
    // Follows whether a card time that converted (`cardTime`) is plausible: reports the
    // start of a spell of false dates, and tells the server of the status again at its end.
    void FollowCardDate(LoopState& state, const CardTime& time, int64_t cardTime,
                        const CardStatus& status);
    void Track(LoopState& state, const discipline::ClockDiscipline& engine,
               const CorrectionWatch& watch, TrackingRecord record);
    void ReportReference(int32_t reference, bool gpsPresent);
    // The correction's figures for the counters: what the engine did, its offset, the rate.
    void CountCorrection(LoopState& state, const discipline::ClockDiscipline& engine,
                         const CorrectionWatch& watch);
    // Takes the NTP server's counts and publishes whatever changed.
    void PublishCounters(LoopState& state);
    // Opens the NTP server's port and starts it, with its events; null when it does not run.
    ntp::TimeServing* StartTimeServing();
    // Hands the warning text to a new pop-up thread; false when one is still showing.
    bool StartPopup();
    static DWORD PopupThread(LPVOID service);
    void ShowPopup();

    card_access::CardClient& card_;
    // The pop-up's text; owned by the pop-up thread while warningShowing_ is set.
    char warningText_[kWarningSize];
    std::atomic<bool> warningShowing_;
    SyncParameters parameters_;
    TrackingLogSettings tracking_;
    platform::DatagramSockets* sockets_ = nullptr;
    platform::SharedSections* sections_ = nullptr;
    ntp::TimeServing::Mode servingMode_ = ntp::TimeServing::Mode::kOwnThread;
    ntp::NtpSettings ntp_;
    ntp::TimeServing* activeServing_ = nullptr;
    TrackingRecord lastTracked_;
    int trackedCount_ = 0;
};

}  // namespace qxr::sync
