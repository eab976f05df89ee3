// Restarting the driver so that it reads the values just written: stop, wait for the stop,
// start. The start is sent even when the stop did not happen in time; the new values then
// apply at the driver's next start. A restart that cannot be made, and a start that fails
// after the driver did stop, are shown with the system's reason.
#include "device_config/device_settings_dialog.h"
#include "platform/service_stop_wait.h"

namespace qxr::device_config {

void DeviceSettingsDialog::RestartDriver() {
    platform::ServiceManager& services = ports_.services;
    const SC_HANDLE manager = services.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        ShowSystemError(kNotRestartedText, GetLastError());
        return;
    }
    const SC_HANDLE service =
        services.OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        const DWORD error = GetLastError();  // before the close can change it
        services.CloseServiceHandle(manager);
        ShowSystemError(kNotRestartedText, error);
        return;
    }
    SERVICE_STATUS status{};
    services.ControlService(service, SERVICE_CONTROL_STOP, &status);
    // A driver that did not stop is still running: its start can only fail, and the stop
    // has been reported already.
    const bool stopped = WaitForDriverStop(service, &status);
    if (!services.StartServiceA(service, 0, nullptr) && stopped) {
        ShowSystemError(kNotStartedText, GetLastError());
    }
    services.CloseServiceHandle(service);
    services.CloseServiceHandle(manager);
}

bool DeviceSettingsDialog::WaitForDriverStop(SC_HANDLE service, SERVICE_STATUS* status) {
    if (platform::WaitForServiceStop(ports_.services, ports_.ticks, service, status,
                                     kDriverStopTimeoutMs)) {
        return true;
    }
    ShowError(kNotStoppedText);
    return false;
}

}  // namespace qxr::device_config
