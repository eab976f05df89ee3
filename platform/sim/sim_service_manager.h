// The simulated Service Control Manager: services with their configuration and state, handles
// with their access rights, chosen calls that fail, a service that refuses to stop, and the
// service side (dispatcher, control handler, status reports) of one service program.
// The dispatcher runs the service's main either inline on the calling thread (virtual-time
// runs) or on a thread of its own while the caller's thread delivers controls, as on Windows.
// When given a SimRegistry, creating a service creates its key and deleting removes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports/service_manager.h"
#include "platform/sim/sim_journal.h"
#include "platform/sim/sim_registry.h"

namespace qxr::sim {

struct SimService {
    std::string name;
    std::string displayName;
    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::string binaryPathName;
    DWORD state = SERVICE_STOPPED;
    bool refusesStop = false;  // a stop control fails with ERROR_SERVICE_CANNOT_ACCEPT_CTRL
    int startCount = 0;
    int startRequests = 0;  // StartServiceA calls on an open handle, failed ones included
    int stopCount = 0;
};

class SimServiceManager : public platform::ServiceManager {
  public:
    enum Call {
        kOpenSCManager,
        kOpenService,
        kCreateService,
        kStartService,
        kControlService,
        kDeleteService,
        kQueryServiceStatus,
        kQueryServiceConfig,
        kChangeServiceConfig,
        kStartDispatcher,
        kRegisterHandler,
        kCallCount
    };
    enum class DispatchMode { kInline, kThread };

    explicit SimServiceManager(SimRegistry* registry = nullptr) : registry_(registry) {}

    SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) override;
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) override;
    SC_HANDLE CreateServiceA(SC_HANDLE manager,
                             const platform::ServiceCreateParams& params) override;
    BOOL CloseServiceHandle(SC_HANDLE handle) override;
    BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) override;
    BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override;
    BOOL DeleteService(SC_HANDLE service) override;
    BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) override;
    BOOL QueryServiceConfigA(SC_HANDLE service, platform::ServiceConfig* config) override;
    BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                              DWORD errorControl) override;
    BOOL StartServiceCtrlDispatcherA(LPCSTR serviceName,
                                     platform::ServiceMainFunction main) override;
    SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName,
                                                      platform::HandlerFunction handler) override;
    BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) override;

    // Scenario controls.
    void AddService(const SimService& service);
    void RemoveService(const std::string& name);
    bool HasService(const std::string& name) const;
    // False when there is no such service.
    bool GetService(const std::string& name, SimService* service) const;
    void SetState(const std::string& name, DWORD state);
    void SetStartType(const std::string& name, DWORD startType);
    void SetRefusesStop(const std::string& name, bool refuses);
    // The call fails with `error` until cleared.
    void FailCall(Call call, DWORD error);
    // A service opened asking for any of these access rights is refused with
    // ERROR_ACCESS_DENIED, as for a caller the service's security does not grant them to;
    // cleared with the failures.
    void DenyServiceAccess(DWORD access);
    void ClearFailures();
    void SetDispatchMode(DispatchMode mode) { dispatchMode_ = mode; }
    // Sends a control to the registered handler: at once on the calling thread in inline mode,
    // through the dispatcher's thread in thread mode. False when no handler is registered.
    bool SendControl(DWORD control);
    // Called on the reporting thread after each SetServiceStatus has been recorded.
    void SetReportHook(std::function<void(const SERVICE_STATUS&)> hook) {
        reportHook_ = std::move(hook);
    }

    // Inspection.
    std::vector<SERVICE_STATUS> ReportedStatuses() const;
    // Blocks until a report with this state has been made or `timeoutMs` has passed.
    bool WaitForReportedState(DWORD state, int timeoutMs) const;
    int OpenHandleCount() const;
    // Calls that change something are recorded there, as "CreateService QxrSync" etc.
    void SetJournal(SimJournal* journal) { journal_ = journal; }

  private:
    struct Handle {
        bool isManager;
        std::string service;  // lower case
        DWORD access;
    };

    static std::string Lower(const std::string& text);
    bool Fails(Call call);
    SimService* ServiceOf(SC_HANDLE handle, DWORD access, DWORD* error);
    SC_HANDLE NewHandle(const Handle& handle);
    void Log(const std::string& entry) {
        if (journal_ != nullptr) journal_->Add(entry);
    }
    BOOL Fail(DWORD error);

    SimRegistry* registry_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, SimService> services_;  // by lower-case name
    std::map<SC_HANDLE, Handle> handles_;
    std::map<Call, DWORD> failures_;
    DWORD deniedAccess_ = 0;
    std::uintptr_t nextHandle_ = 0x2000;
    SimJournal* journal_ = nullptr;

    DispatchMode dispatchMode_ = DispatchMode::kInline;
    std::string dispatchedService_;  // lower case; the service program's own service
    platform::HandlerFunction handler_ = nullptr;
    std::vector<SERVICE_STATUS> reports_;
    std::deque<DWORD> pendingControls_;
    bool dispatching_ = false;
    bool mainReturned_ = false;
    std::function<void(const SERVICE_STATUS&)> reportHook_;
};

}  // namespace qxr::sim
