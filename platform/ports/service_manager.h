// The Service Control Manager: the configuring side (open, create, control, delete) and the
// service side (dispatcher, control handler, status reports).
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

// What QueryServiceConfigA reports that this system uses.
struct ServiceConfig {
    DWORD serviceType;
    DWORD startType;
    DWORD errorControl;
    char binaryPathName[MAX_PATH + 2];
};

struct ServiceCreateParams {
    LPCSTR serviceName;
    LPCSTR displayName;
    DWORD desiredAccess;
    DWORD serviceType;
    DWORD startType;
    DWORD errorControl;
    LPCSTR binaryPathName;
};

using ServiceMainFunction = void (*)(DWORD argc, char** argv);
using HandlerFunction = void (*)(DWORD control);

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // Handles are null on failure, with the reason in GetLastError().
    virtual SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) = 0;
    virtual SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) = 0;
    virtual SC_HANDLE CreateServiceA(SC_HANDLE manager, const ServiceCreateParams& params) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
    virtual BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) = 0;
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) = 0;
    virtual BOOL DeleteService(SC_HANDLE service) = 0;
    virtual BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) = 0;
    // The two-call size negotiation of the API is the adapter's business.
    virtual BOOL QueryServiceConfigA(SC_HANDLE service, ServiceConfig* config) = 0;
    virtual BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                      DWORD errorControl) = 0;

    // Service side. The dispatcher returns when the service has stopped.
    virtual BOOL StartServiceCtrlDispatcherA(LPCSTR serviceName, ServiceMainFunction main) = 0;
    virtual SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName,
                                                              HandlerFunction handler) = 0;
    virtual BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) = 0;
};

}  // namespace qxr::platform
