// w32time_stub.exe: a stand-in for the Windows Time service in a Wine prefix, which has none.
// It does nothing but run until it is asked to stop, so that QxrSync's stop, disable,
// re-enable and start of "W32Time" can be exercised for real.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    SetServiceStatus(g_status, &status);
}

VOID WINAPI Handler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
}

VOID WINAPI ServiceMain(DWORD, LPSTR*) {
    g_status = RegisterServiceCtrlHandlerA("W32Time", &Handler);
    if (g_status == nullptr) return;
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "W32Time";
    SERVICE_TABLE_ENTRYA table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
