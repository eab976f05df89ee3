// The Service Control Manager of the real Windows API. The service side keeps the one
// process's ServiceMain and control handler and hands the system WINAPI trampolines.
#pragma once

#include "platform/ports/service_manager.h"

namespace qxr::win32 {

class Win32ServiceManager : public platform::ServiceManager {
  public:
    SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) override {
        return ::OpenSCManagerA(machine, database, access);
    }
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) override {
        return ::OpenServiceA(manager, name, access);
    }
    SC_HANDLE CreateServiceA(SC_HANDLE manager, const platform::ServiceCreateParams& p) override {
        return ::CreateServiceA(manager, p.serviceName, p.displayName, p.desiredAccess,
                                p.serviceType, p.startType, p.errorControl, p.binaryPathName,
                                nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }
    BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) override {
        return ::StartServiceA(service, argc, argv);
    }
    BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override {
        return ::ControlService(service, control, status);
    }
    BOOL DeleteService(SC_HANDLE service) override { return ::DeleteService(service); }
    BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) override {
        return ::QueryServiceStatus(service, status);
    }
    BOOL QueryServiceConfigA(SC_HANDLE service, platform::ServiceConfig* config) override;
    BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                              DWORD errorControl) override {
        return ::ChangeServiceConfigA(service, serviceType, startType, errorControl, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    BOOL StartServiceCtrlDispatcherA(LPCSTR serviceName,
                                     platform::ServiceMainFunction main) override;
    SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName,
                                                      platform::HandlerFunction handler) override;
    BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) override {
        return ::SetServiceStatus(handle, const_cast<SERVICE_STATUS*>(status));
    }
};

}  // namespace qxr::win32
