// CNTService, the command-line side: the options, installation and removal with the service
// control manager and the event log, the installed and running checks, and the dispatcher.
#include <cstdio>
#include <cstring>

#include "sync_service/event_messages.h"
#include "sync_service/nt_service.h"
#include "sync_service/sc_handle.h"

namespace qxr::sync {

namespace {

bool SameOption(const char* argument, const char* option) {
    for (; *argument != '\0' && *option != '\0'; ++argument, ++option) {
        char c = *argument;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *option) return false;
    }
    return *argument == *option;
}

}  // namespace

bool CNTService::ProcessCommandLine(int argc, char** argv) {
    if (argc <= 1 || argv == nullptr || argv[1] == nullptr) return false;
    const char* option = argv[1];
    if (SameOption(option, "-v")) {
        PrintVersion();
    } else if (SameOption(option, "-i")) {
        if (CheckInstalled()) {
            Print("%s is already installed.\n", serviceName_);
        } else if (InstallService()) {
            Print("%s installed.\n", serviceName_);
        } else {
            Print("%s failed to install.  Error %d.\n", serviceName_,
                  static_cast<int>(GetLastError()));
        }
    } else if (SameOption(option, "-r") || SameOption(option, "-u")) {
        if (!CheckInstalled()) {
            Print("%s is not installed.\n", serviceName_);
        } else if (RemoveService()) {
            char path[MAX_PATH + 1] = "";
            const DWORD n = ports_.module.GetModuleFileNameA(path, MAX_PATH);
            path[n < MAX_PATH ? n : MAX_PATH] = '\0';
            Print("%s removed.\n(You must delete the file \"%s\" yourself.)\n", serviceName_, path);
        } else {
            Print("Could not remove %s.  Error %d.\n", serviceName_,
                  static_cast<int>(GetLastError()));
        }
    }
    return true;
}

void CNTService::PrintVersion() {
    platform::FileVersion version{0, 0, 0, 0};
    if (!ports_.module.GetFileVersion(&version)) version = platform::FileVersion{0, 0, 0, 0};
    Print("%s version %d.%d.%d.%d\n", serviceName_, version.major, version.minor, version.build,
          version.revision);
    Print("The service is %s installed.\n", CheckInstalled() ? "currently" : "not");
}

bool CNTService::CheckInstalled() {
    platform::ServiceManager& scm = ports_.services;
    ScHandle manager(scm, scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    ScHandle service(scm, scm.OpenServiceA(manager.get(), serviceName_, SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool CNTService::InstallService() {
    platform::ServiceManager& scm = ports_.services;
    ScHandle manager(scm, scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;

    char path[MAX_PATH + 1] = "";
    DWORD length = ports_.module.GetModuleFileNameA(path, MAX_PATH);
    if (length > MAX_PATH) length = MAX_PATH;
    path[length] = '\0';
    // Quoted, so that a path with a blank cannot start another program as LocalSystem.
    char quoted[MAX_PATH + 3];
    std::snprintf(quoted, sizeof quoted, "\"%s\"", path);

    platform::ServiceCreateParams params{};
    params.serviceName = serviceName_;
    params.displayName = displayName_;
    params.desiredAccess = SERVICE_ALL_ACCESS;
    params.serviceType = SERVICE_WIN32_OWN_PROCESS;
    params.startType = SERVICE_AUTO_START;
    params.errorControl = SERVICE_ERROR_NORMAL;
    params.binaryPathName = quoted;
    ScHandle service(scm, scm.CreateServiceA(manager.get(), params));
    if (!service) return false;

    platform::Registry& registry = ports_.registry;
    char keyName[256];
    std::snprintf(keyName, sizeof keyName,
                  "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%s", serviceName_);
    HKEY key = nullptr;
    const LSTATUS created = registry.RegCreateKeyA(HKEY_LOCAL_MACHINE, keyName, &key);
    if (created != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(created));
        return false;
    }
    registry.RegSetValueExA(key, "EventMessageFile", REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(path), length + 1);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    registry.RegSetValueExA(key, "TypesSupported", REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof types);
    registry.RegCloseKey(key);

    if (description_[0] != '\0') {
        std::snprintf(keyName, sizeof keyName, "SYSTEM\\CurrentControlSet\\Services\\%s",
                      serviceName_);
        if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, KEY_WRITE, &key) == ERROR_SUCCESS) {
            registry.RegSetValueExA(key, "Description", REG_SZ,
                                    reinterpret_cast<const BYTE*>(description_),
                                    static_cast<DWORD>(std::strlen(description_) + 1));
            registry.RegCloseKey(key);
        }
    }

    OnInstall();
    scm.StartServiceA(service.get(), 0, nullptr);
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgInstalled, serviceName_);
    return true;
}

bool CNTService::RemoveService() {
    platform::ServiceManager& scm = ports_.services;
    ScHandle manager(scm, scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    ScHandle service(scm, scm.OpenServiceA(manager.get(), serviceName_, DELETE | SERVICE_STOP));
    if (!service) return false;

    SERVICE_STATUS status{};
    scm.ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    OnRemove();
    if (scm.DeleteService(service.get())) {
        ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgRemoved, serviceName_);
        return true;
    }
    const DWORD error = GetLastError();
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kMsgNotRemoved, serviceName_);
    SetLastError(error);
    return false;
}

DWORD CNTService::QueryCurrentState() {
    platform::ServiceManager& scm = ports_.services;
    ScHandle manager(scm, scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return SERVICE_STOPPED;
    ScHandle service(scm, scm.OpenServiceA(manager.get(), serviceName_, SERVICE_QUERY_STATUS));
    if (!service) return SERVICE_STOPPED;
    SERVICE_STATUS status{};
    if (!scm.QueryServiceStatus(service.get(), &status)) return SERVICE_STOPPED;
    return status.dwCurrentState;
}

bool CNTService::RunDispatcher() {
    if (QueryCurrentState() != SERVICE_START_PENDING) return false;
    TraceMsg("Calling StartServiceCtrlDispatcher()");
    const BOOL ok =
        ports_.services.StartServiceCtrlDispatcherA(serviceName_, &CNTService::ServiceMain);
    TraceMsg("Returned from StartServiceCtrlDispatcher()");
    return ok != FALSE;
}

}  // namespace qxr::sync
