#include "platform/win32/win32_threads.h"

#include <cstdlib>

namespace qxr::win32 {

namespace {

struct ThreadStart {
    platform::ThreadRoutine routine;
    LPVOID parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    std::free(start);
    return copy.routine(copy.parameter);
}

}  // namespace

BOOL Win32Threads::CreateThread(platform::ThreadRoutine routine, LPVOID parameter,
                                DWORD* threadId) {
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    start->routine = routine;
    start->parameter = parameter;
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, &ThreadTrampoline, start, 0, &id);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        std::free(start);
        SetLastError(error);
        return FALSE;
    }
    ::CloseHandle(thread);
    if (threadId != nullptr) *threadId = id;
    return TRUE;
}

BOOL Win32ModuleInfo::GetFileVersion(platform::FileVersion* version) {
    char path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || version == nullptr) return FALSE;
    path[length] = '\0';
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return FALSE;
    void* data = std::malloc(size);
    if (data == nullptr) return FALSE;
    BOOL found = FALSE;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (::GetFileVersionInfoA(path, 0, size, data) &&
        ::VerQueryValueA(data, "\\", reinterpret_cast<LPVOID*>(&fixed), &fixedSize) &&
        fixed != nullptr && fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version->major = HIWORD(fixed->dwFileVersionMS);
        version->minor = LOWORD(fixed->dwFileVersionMS);
        version->build = HIWORD(fixed->dwFileVersionLS);
        version->revision = LOWORD(fixed->dwFileVersionLS);
        found = TRUE;
    }
    std::free(data);
    return found;
}

}  // namespace qxr::win32
