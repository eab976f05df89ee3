// qxrhandles NAME: the process of a running service, the number of handles it holds open and
// its working set, from the system's process list (NtQuerySystemInformation, the source Wine
// fills; its GetProcessHandleCount reports 0). Prints "pid=N handles=N workingset=N KiB" and
// exits 0, or "error=N" (the Win32 or NT status of the step that failed) and exits 1.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <vector>

namespace {

int Fail(unsigned long error) {
    std::printf("error=%lu\n", error);
    return 1;
}

using QuerySystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);

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
    const BOOL queried = QueryServiceStatusEx(
        service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
    const DWORD queryError = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!queried) return Fail(queryError);
    if (status.dwProcessId == 0) return Fail(ERROR_SERVICE_NOT_ACTIVE);

    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return Fail(GetLastError());
    std::vector<BYTE> buffer(1 << 16);
    LONG result = 0;
    for (;;) {
        ULONG length = 0;
        result = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                       &length);
        if (result != kInfoLengthMismatch) break;
        buffer.resize(buffer.size() * 2);
    }
    if (result < 0) return Fail(static_cast<unsigned long>(result));
    for (size_t offset = 0;;) {
        const auto* process =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<ULONG_PTR>(process->UniqueProcessId) == status.dwProcessId) {
            std::printf(
                "pid=%lu handles=%lu workingset=%lu KiB\n", status.dwProcessId,
                process->HandleCount,
                static_cast<unsigned long>(process->VirtualMemoryCounters.WorkingSetSize / 1024));
            return 0;
        }
        if (process->NextEntryOffset == 0) break;
        offset += process->NextEntryOffset;
    }
    return Fail(ERROR_NOT_FOUND);
}
