#include "sync_service/w32time_coordination.h"

#include <cstdio>

#include "sync_service/sc_handle.h"

namespace qxr::sync {

W32TimeCoordination::W32TimeCoordination(platform::ServiceManager& services,
                                         platform::Registry& registry,
                                         platform::ConsoleOutput& console, const char* serviceName)
    : services_(services), registry_(registry), console_(console) {
    std::snprintf(keyName_, sizeof keyName_, "SYSTEM\\CurrentControlSet\\Services\\%s\\W32Time",
                  serviceName);
}

void W32TimeCoordination::Disable() {
    ScHandle manager(services_, services_.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return;
    ScHandle service(services_, services_.OpenServiceA(
                                    manager.get(), kW32TimeName,
                                    SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_STOP));
    if (!service) return;

    SERVICE_STATUS status{};
    if (services_.ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        console_.Write("W32Time service stopped.\n");
    }
    platform::ServiceConfig config{};
    if (!services_.QueryServiceConfigA(service.get(), &config)) return;
    // Disabled all the same: left automatic, W32Time would start beside the synchronizer at
    // the next boot. Without a note removal cannot give the start type back; say so.
    if (!NoteStartType(config.startType)) console_.Write(kStartTypeNotNotedText);
    if (config.startType != SERVICE_DISABLED &&
        services_.ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                       SERVICE_NO_CHANGE)) {
        console_.Write("W32Time service has been disabled.\n");
    }
}

void W32TimeCoordination::Restore() {
    const DWORD noted = NotedStartType();
    if (noted != SERVICE_AUTO_START && noted != SERVICE_DEMAND_START) return;

    ScHandle manager(services_, services_.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return;
    ScHandle service(services_, services_.OpenServiceA(
                                    manager.get(), kW32TimeName,
                                    SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) return;
    platform::ServiceConfig config{};
    if (!services_.QueryServiceConfigA(service.get(), &config)) return;
    if (services_.ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, noted,
                                       SERVICE_NO_CHANGE)) {
        console_.Write("W32Time service has been re-enabled.\n");
    }
    if (noted == SERVICE_AUTO_START && services_.StartServiceA(service.get(), 0, nullptr)) {
        console_.Write("W32Time service started.\n");
    }
}

// Written only when not there yet, so the start type noted by the first installation wins.
// True when a note is in place afterwards.
bool W32TimeCoordination::NoteStartType(DWORD startType) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName_, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key,
                                  &disposition) != ERROR_SUCCESS) {
        return false;
    }
    DWORD present = 0;
    DWORD type = 0;
    DWORD size = sizeof present;
    const LSTATUS queried = registry_.RegQueryValueExA(key, "StartType", &type,
                                                       reinterpret_cast<BYTE*>(&present), &size);
    bool noted = queried == ERROR_SUCCESS;
    if (queried == ERROR_FILE_NOT_FOUND || queried == ERROR_MORE_DATA) {
        noted = registry_.RegSetValueExA(key, "StartType", REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&startType),
                                         sizeof startType) == ERROR_SUCCESS;
    }
    registry_.RegCloseKey(key);
    return noted;
}

DWORD W32TimeCoordination::NotedStartType() {
    DWORD noted = SERVICE_DISABLED;
    HKEY key = nullptr;
    if (registry_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName_, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return noted;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    if (registry_.RegQueryValueExA(key, "StartType", &type, reinterpret_cast<BYTE*>(&value),
                                   &size) == ERROR_SUCCESS &&
        size == sizeof value) {
        noted = value;
    }
    registry_.RegCloseKey(key);
    return noted;
}

}  // namespace qxr::sync
