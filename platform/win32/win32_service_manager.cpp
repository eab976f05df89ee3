#include "platform/win32/win32_service_manager.h"

#include <cstdlib>
#include <cstring>

namespace qxr::win32 {

namespace {

// One service per process: the system calls these without an object.
platform::ServiceMainFunction g_main = nullptr;
platform::HandlerFunction g_handler = nullptr;

VOID WINAPI MainTrampoline(DWORD argc, LPSTR* argv) {
    if (g_main != nullptr) g_main(argc, argv);
}

VOID WINAPI HandlerTrampoline(DWORD control) {
    if (g_handler != nullptr) g_handler(control);
}

}  // namespace

BOOL Win32ServiceManager::QueryServiceConfigA(SC_HANDLE service, platform::ServiceConfig* config) {
    if (config == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // First a one-byte buffer for the size needed, then a buffer of that size.
    BYTE probe[sizeof(QUERY_SERVICE_CONFIGA)];
    DWORD needed = 0;
    if (!::QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(probe), 1,
                               &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return FALSE;
    }
    if (needed < sizeof(QUERY_SERVICE_CONFIGA)) needed = sizeof(QUERY_SERVICE_CONFIGA);
    auto* full = static_cast<QUERY_SERVICE_CONFIGA*>(std::malloc(needed));
    if (full == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const BOOL ok = ::QueryServiceConfigA(service, full, needed, &needed);
    if (ok) {
        std::memset(config, 0, sizeof *config);
        config->serviceType = full->dwServiceType;
        config->startType = full->dwStartType;
        config->errorControl = full->dwErrorControl;
        if (full->lpBinaryPathName != nullptr) {
            std::strncpy(config->binaryPathName, full->lpBinaryPathName,
                         sizeof config->binaryPathName - 1);
        }
    }
    const DWORD error = GetLastError();
    std::free(full);
    SetLastError(error);
    return ok;
}

BOOL Win32ServiceManager::StartServiceCtrlDispatcherA(LPCSTR serviceName,
                                                      platform::ServiceMainFunction main) {
    g_main = main;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(serviceName), &MainTrampoline},
                                    {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherA(table);
}

SERVICE_STATUS_HANDLE Win32ServiceManager::RegisterServiceCtrlHandlerA(
    LPCSTR serviceName, platform::HandlerFunction handler) {
    g_handler = handler;
    return ::RegisterServiceCtrlHandlerA(serviceName, &HandlerTrampoline);
}

}  // namespace qxr::win32
