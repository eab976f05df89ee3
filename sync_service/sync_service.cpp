// SyncService: identity, parameters, and the installation and removal hooks.
#include "sync_service/sync_service.h"

#include <cstdio>
#include <new>

#include "sync_service/event_messages.h"
#include "sync_service/w32time_coordination.h"

namespace qxr::sync {

SyncService::SyncService(platform::Platform ports, card_access::CardClient& card,
                         platform::ConsoleOutput& console)
    : CNTService(ports, console, kSyncServiceName, kSyncDisplayName, kSyncDescription),
      card_(card),
      warningText_{},
      warningShowing_(false) {}

SyncService::~SyncService() = default;

bool SyncService::OnInit() {
    ntp_ = ntp::NtpSettings{};
    ReadSyncParameters(Ports().registry, ServiceName(), &parameters_, &tracking_, &ntp_);
    if (!tracking_.Enabled()) return true;
    if (const DWORD error = ResolveTrackingLogPath(Ports().files, &tracking_); error != 0) {
        // Reported as any unwritable log; the service runs on without one.
        char text[24];
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(error));
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgTrackingLogFailed, tracking_.path, text);
        tracking_ = TrackingLogSettings{};
    }
    return true;
}

void SyncService::ServeTimeWith(platform::DatagramSockets& sockets, ntp::TimeServing::Mode mode) {
    sockets_ = &sockets;
    servingMode_ = mode;
}

void SyncService::ServeWaitingTimeRequests() {
    if (activeServing_ != nullptr) activeServing_->ServeWaiting();
}

const ntp::NtpServerCounts* SyncService::TimeServerCounts() const {
    return activeServing_ != nullptr ? &activeServing_->Counts() : nullptr;
}

ntp::TimeServing* SyncService::StartTimeServing() {
    if (!ntp_.enabled || sockets_ == nullptr) return nullptr;
    for (int i = 0; i < ntp_.rejectedCount; ++i) {
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpAllowIgnored, ntp_.rejected[i]);
    }
    char port[24], error[24];
    std::snprintf(port, sizeof port, "%u", static_cast<unsigned>(ntp_.port));
    // Once, at the start: the server's rate table is too large for the service thread's stack.
    auto* serving = new (std::nothrow) ntp::TimeServing(Ports(), *sockets_, ntp_, servingMode_);
    const int status = serving != nullptr ? serving->Start() : ERROR_NOT_ENOUGH_MEMORY;
    if (status != 0) {
        delete serving;
        std::snprintf(error, sizeof error, "%d", status);
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpPortFailed, port, error);
        return nullptr;
    }
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgNtpServing, port);
    return serving;
}

void SyncService::OnInstall() {
    SeedSyncParameters(Ports().registry, ServiceName());
    W32TimeCoordination(Ports().services, Ports().registry, Console(), ServiceName()).Disable();
}

void SyncService::OnRemove() {
    W32TimeCoordination(Ports().services, Ports().registry, Console(), ServiceName()).Restore();
}

}  // namespace qxr::sync
