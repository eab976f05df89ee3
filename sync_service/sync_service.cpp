// SyncService: identity, parameters, and the installation and removal hooks.
#include "sync_service/sync_service.h"

#include "sync_service/w32time_coordination.h"

namespace qxr::sync {

SyncService::SyncService(platform::Platform ports, card_access::CardClient& card,
                         ConsoleOutput& console)
    : CNTService(ports, console, kSyncServiceName, kSyncDisplayName, kSyncDescription),
      card_(card),
      warningText_{},
      warningShowing_(false) {}

SyncService::~SyncService() = default;

bool SyncService::OnInit() {
    ReadSyncParameters(Ports().registry, ServiceName(), &parameters_, &tracking_);
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
