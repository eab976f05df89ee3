// SyncService: identity, parameters, and the installation and removal hooks.
#include "sync_service/sync_service.h"

#include <cstdio>

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
    ReadSyncParameters(Ports().registry, ServiceName(), &parameters_, &tracking_);
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

void SyncService::OnInstall() {
    SeedSyncParameters(Ports().registry, ServiceName());
    W32TimeCoordination(Ports().services, Ports().registry, Console(), ServiceName()).Disable();
}

void SyncService::OnRemove() {
    W32TimeCoordination(Ports().services, Ports().registry, Console(), ServiceName()).Restore();
}

}  // namespace qxr::sync
