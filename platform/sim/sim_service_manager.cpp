#include "platform/sim/sim_service_manager.h"

#include <chrono>

namespace qxr::sim {

namespace {
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
}

std::string SimServiceManager::Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

BOOL SimServiceManager::Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool SimServiceManager::Fails(Call call) {
    const auto it = failures_.find(call);
    if (it == failures_.end()) return false;
    SetLastError(it->second);
    return true;
}

SC_HANDLE SimServiceManager::NewHandle(const Handle& handle) {
    const SC_HANDLE h = reinterpret_cast<SC_HANDLE>(nextHandle_);
    nextHandle_ += 0x10;
    handles_[h] = handle;
    return h;
}

SimService* SimServiceManager::ServiceOf(SC_HANDLE handle, DWORD access, DWORD* error) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.isManager) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((it->second.access & access) != access) {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const auto service = services_.find(it->second.service);
    if (service == services_.end()) {
        *error = ERROR_SERVICE_MARKED_FOR_DELETE;
        return nullptr;
    }
    return &service->second;
}

SC_HANDLE SimServiceManager::OpenSCManagerA(LPCSTR, LPCSTR, DWORD access) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Fails(kOpenSCManager)) return nullptr;
    return NewHandle(Handle{true, std::string(), access});
}

SC_HANDLE SimServiceManager::OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(manager);
    if (it == handles_.end() || !it->second.isManager || name == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (Fails(kOpenService)) return nullptr;
    const std::string key = Lower(name);
    if (services_.find(key) == services_.end()) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if ((access & deniedAccess_) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return NewHandle(Handle{false, key, access});
}

SC_HANDLE SimServiceManager::CreateServiceA(SC_HANDLE manager,
                                            const platform::ServiceCreateParams& params) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(manager);
    if (it == handles_.end() || !it->second.isManager || params.serviceName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (Fails(kCreateService)) return nullptr;
    const std::string key = Lower(params.serviceName);
    if (services_.find(key) != services_.end()) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    SimService service;
    service.name = params.serviceName;
    service.displayName = params.displayName != nullptr ? params.displayName : params.serviceName;
    service.serviceType = params.serviceType;
    service.startType = params.startType;
    service.errorControl = params.errorControl;
    service.binaryPathName = params.binaryPathName != nullptr ? params.binaryPathName : "";
    services_[key] = service;
    if (registry_ != nullptr) {
        const std::string path = kServicesKey + service.name;
        registry_->SetString(path, "ImagePath", REG_EXPAND_SZ, service.binaryPathName);
        registry_->SetDword(path, "Start", service.startType);
    }
    Log("CreateService " + service.name + " " + service.binaryPathName);
    return NewHandle(Handle{false, key, params.desiredAccess});
}

BOOL SimServiceManager::CloseServiceHandle(SC_HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.erase(handle) > 0 ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL SimServiceManager::StartServiceA(SC_HANDLE handle, DWORD, LPCSTR*) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = 0;
    SimService* service = ServiceOf(handle, SERVICE_START, &error);
    if (service == nullptr) return Fail(error);
    ++service->startRequests;
    if (Fails(kStartService)) return FALSE;
    if (service->startType == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
    if (service->state != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    service->state = SERVICE_RUNNING;
    ++service->startCount;
    Log("StartService " + service->name);
    changed_.notify_all();
    return TRUE;
}

BOOL SimServiceManager::ControlService(SC_HANDLE handle, DWORD control, SERVICE_STATUS* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    const DWORD needed = control == SERVICE_CONTROL_STOP ? SERVICE_STOP : 0;
    DWORD error = 0;
    SimService* service = ServiceOf(handle, needed, &error);
    if (service == nullptr) return Fail(error);
    if (Fails(kControlService)) return FALSE;
    Log("ControlService " + service->name + " " + std::to_string(control));
    if (control == SERVICE_CONTROL_STOP) {
        if (service->state == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
        if (service->refusesStop) return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        service->state = SERVICE_STOPPED;
        ++service->stopCount;
        changed_.notify_all();
    } else if (control != SERVICE_CONTROL_INTERROGATE) {
        return Fail(ERROR_INVALID_SERVICE_CONTROL);
    }
    if (status != nullptr) {
        *status =
            SERVICE_STATUS{service->serviceType, service->state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    }
    return TRUE;
}

BOOL SimServiceManager::DeleteService(SC_HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = 0;
    SimService* service = ServiceOf(handle, DELETE, &error);
    if (service == nullptr) return Fail(error);
    if (Fails(kDeleteService)) return FALSE;
    const std::string name = service->name;
    services_.erase(Lower(name));
    // As under Wine, the service's whole key goes at once.
    if (registry_ != nullptr) registry_->DeleteKeyTree(kServicesKey + name);
    Log("DeleteService " + name);
    return TRUE;
}

BOOL SimServiceManager::QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = 0;
    SimService* service = ServiceOf(handle, SERVICE_QUERY_STATUS, &error);
    if (service == nullptr) return Fail(error);
    if (Fails(kQueryServiceStatus)) return FALSE;
    if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *status = SERVICE_STATUS{service->serviceType, service->state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    return TRUE;
}

BOOL SimServiceManager::QueryServiceConfigA(SC_HANDLE handle, platform::ServiceConfig* config) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = 0;
    SimService* service = ServiceOf(handle, SERVICE_QUERY_CONFIG, &error);
    if (service == nullptr) return Fail(error);
    if (Fails(kQueryServiceConfig)) return FALSE;
    if (config == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *config = platform::ServiceConfig{};
    config->serviceType = service->serviceType;
    config->startType = service->startType;
    config->errorControl = service->errorControl;
    service->binaryPathName.copy(config->binaryPathName, sizeof config->binaryPathName - 1);
    return TRUE;
}

BOOL SimServiceManager::ChangeServiceConfigA(SC_HANDLE handle, DWORD serviceType, DWORD startType,
                                             DWORD errorControl) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = 0;
    SimService* service = ServiceOf(handle, SERVICE_CHANGE_CONFIG, &error);
    if (service == nullptr) return Fail(error);
    if (Fails(kChangeServiceConfig)) return FALSE;
    if (serviceType != SERVICE_NO_CHANGE) service->serviceType = serviceType;
    if (startType != SERVICE_NO_CHANGE) service->startType = startType;
    if (errorControl != SERVICE_NO_CHANGE) service->errorControl = errorControl;
    Log("ChangeServiceConfig " + service->name + " " + std::to_string(service->startType));
    return TRUE;
}

BOOL SimServiceManager::StartServiceCtrlDispatcherA(LPCSTR serviceName,
                                                    platform::ServiceMainFunction main) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Fails(kStartDispatcher)) return FALSE;
        if (serviceName == nullptr || main == nullptr || dispatching_) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        dispatching_ = true;
        mainReturned_ = false;
        dispatchedService_ = Lower(serviceName);
    }
    std::string name = serviceName;
    char* argv[] = {&name[0], nullptr};
    if (dispatchMode_ == DispatchMode::kInline) {
        main(1, argv);
    } else {
        // ServiceMain on a thread of its own; this thread delivers the controls meanwhile.
        std::thread serviceThread([&] {
            main(1, argv);
            std::lock_guard<std::mutex> lock(mutex_);
            mainReturned_ = true;
            changed_.notify_all();
        });
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            changed_.wait(lock, [&] { return mainReturned_ || !pendingControls_.empty(); });
            if (!pendingControls_.empty()) {
                const DWORD control = pendingControls_.front();
                pendingControls_.pop_front();
                const platform::HandlerFunction handler = handler_;
                lock.unlock();
                if (handler != nullptr) handler(control);
                lock.lock();
                continue;
            }
            break;
        }
        lock.unlock();
        serviceThread.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    dispatching_ = false;
    handler_ = nullptr;
    return TRUE;
}

SERVICE_STATUS_HANDLE SimServiceManager::RegisterServiceCtrlHandlerA(
    LPCSTR serviceName, platform::HandlerFunction handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Fails(kRegisterHandler)) return nullptr;
    if (serviceName == nullptr || handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    handler_ = handler;
    dispatchedService_ = Lower(serviceName);
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<std::uintptr_t>(0x5151));
}

BOOL SimServiceManager::SetServiceStatus(SERVICE_STATUS_HANDLE handle,
                                         const SERVICE_STATUS* status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handle == nullptr || status == nullptr) return Fail(ERROR_INVALID_HANDLE);
        reports_.push_back(*status);
        const auto it = services_.find(dispatchedService_);
        if (it != services_.end()) it->second.state = status->dwCurrentState;
        changed_.notify_all();
    }
    if (reportHook_) reportHook_(*status);
    return TRUE;
}

bool SimServiceManager::SendControl(DWORD control) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (handler_ == nullptr) return false;
    if (dispatchMode_ == DispatchMode::kThread && dispatching_) {
        pendingControls_.push_back(control);
        changed_.notify_all();
        return true;
    }
    const platform::HandlerFunction handler = handler_;
    lock.unlock();
    handler(control);
    return true;
}

void SimServiceManager::AddService(const SimService& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_[Lower(service.name)] = service;
    if (registry_ != nullptr) registry_->CreateKey(kServicesKey + service.name);
}

void SimServiceManager::RemoveService(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_.erase(Lower(name));
}

bool SimServiceManager::HasService(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return services_.find(Lower(name)) != services_.end();
}

bool SimServiceManager::GetService(const std::string& name, SimService* service) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = services_.find(Lower(name));
    if (it == services_.end()) return false;
    *service = it->second;
    return true;
}

void SimServiceManager::SetState(const std::string& name, DWORD state) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = services_.find(Lower(name));
    if (it != services_.end()) it->second.state = state;
}

void SimServiceManager::SetStartType(const std::string& name, DWORD startType) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = services_.find(Lower(name));
    if (it != services_.end()) it->second.startType = startType;
}

void SimServiceManager::SetRefusesStop(const std::string& name, bool refuses) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = services_.find(Lower(name));
    if (it != services_.end()) it->second.refusesStop = refuses;
}

void SimServiceManager::FailCall(Call call, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[call] = error;
}

void SimServiceManager::DenyServiceAccess(DWORD access) {
    std::lock_guard<std::mutex> lock(mutex_);
    deniedAccess_ = access;
}

void SimServiceManager::ClearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
    deniedAccess_ = 0;
}

std::vector<SERVICE_STATUS> SimServiceManager::ReportedStatuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

bool SimServiceManager::WaitForReportedState(DWORD state, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const SERVICE_STATUS& s : reports_) {
            if (s.dwCurrentState == state) return true;
        }
        return false;
    });
}

int SimServiceManager::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

}  // namespace qxr::sim
