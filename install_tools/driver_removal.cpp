// Removing a driver's service entry: stop it, wait for the stop, delete it. The deletion is
// requested even when the driver did not stop in time; it then goes at the next system start.
#include "install_tools/driver_installer.h"
#include "platform/service_stop_wait.h"

namespace qxr::install {

void DriverInstaller::RemoveDriver(const char* serviceName) {
    platform::ServiceManager& services = ports_.services;
    const SC_HANDLE manager = services.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        ShowError(kCannotRemoveText);
        return;
    }
    const SC_HANDLE service = services.OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        services.CloseServiceHandle(manager);
        ShowError(kCannotRemoveText);
        return;
    }
    SERVICE_STATUS status{};
    services.ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (!platform::WaitForServiceStop(services, ports_.ticks, service, &status,
                                      kDriverStopTimeoutMs)) {
        ShowError(kNotStoppedText);
    }
    services.DeleteService(service);
    services.CloseServiceHandle(service);
    services.CloseServiceHandle(manager);
}

}  // namespace qxr::install
