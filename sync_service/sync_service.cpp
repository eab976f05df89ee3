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
    if (sockets_ == nullptr || (!ntp_.enabled && !ntp_.serverValueIgnored)) return nullptr;
    for (int i = 0; i < ntp_.rejectedCount; ++i) {
        const ntp::IgnoredSetting& ignored = ntp_.rejected[i];
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpAllowIgnored, ignored.name, ignored.kind,
                           ignored.why);
    }
    if (!ntp_.enabled) return nullptr;
    char port[24], error[24];
    std::snprintf(port, sizeof port, "%u", static_cast<unsigned>(ntp_.port));
    // Once, at the start: the server's rate table is too large for the service thread's stack.
    auto* serving = new (std::nothrow) ntp::TimeServing(Ports(), *sockets_, ntp_, servingMode_);
    if (serving != nullptr) {
        const WORD number = ntp_.port;
        serving->OnReceiveFailing([this, number](int failure) {
            char portText[24], errorText[24];
            std::snprintf(portText, sizeof portText, "%u", static_cast<unsigned>(number));
            std::snprintf(errorText, sizeof errorText, "%d", failure);
            ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpReceiveFailed, portText, errorText);
        });
    }
    const int status = serving != nullptr ? serving->Start() : ERROR_NOT_ENOUGH_MEMORY;
    if (status != 0) {
        delete serving;
        std::snprintf(error, sizeof error, "%d", status);
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpPortFailed, port, error);
        return nullptr;
    }
    // IPv6 that the system has but that cannot be used (its port taken, say): the port's
    // own event, named as IPv6's, since the server answers on IPv4 all the same.
    if (const int ipv6 = serving->Ipv6Error(); ipv6 != 0) {
        char ipv6Port[32];
        std::snprintf(ipv6Port, sizeof ipv6Port, "%u (IPv6)", static_cast<unsigned>(ntp_.port));
        std::snprintf(error, sizeof error, "%d", ipv6);
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNtpPortFailed, ipv6Port, error);
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
