// qxrhandles NAME: the process of a running service and the number of handles it holds open,
// from the system's process information. Prints "pid=N handles=N" and exits 0, or "error=N"
// (the Win32 error of the step that failed) and exits 1.
#include <windows.h>

#include <cstdio>

namespace {

int Fail(DWORD error) {
    std::printf("error=%lu\n", error);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: qxrhandles SERVICE\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return Fail(GetLastError());
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return Fail(error);
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    const BOOL queried = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                              reinterpret_cast<BYTE*>(&status), sizeof status,
                                              &needed);
    const DWORD queryError = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!queried) return Fail(queryError);
    if (status.dwProcessId == 0) return Fail(ERROR_SERVICE_NOT_ACTIVE);

    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, status.dwProcessId);
    if (process == nullptr) return Fail(GetLastError());
    DWORD handles = 0;
    const BOOL counted = GetProcessHandleCount(process, &handles);
    const DWORD countError = GetLastError();
    CloseHandle(process);
    if (!counted) return Fail(countError);
    std::printf("pid=%lu handles=%lu\n", status.dwProcessId, handles);
    return 0;
}
