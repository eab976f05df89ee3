#include "platform/win32/win32_threads.h"

#include <cstdlib>

#include "platform/version_resource.h"

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

DWORD Win32MessageBoxes::FormatMessageA(DWORD error, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) return 0;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, buffer, size, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ')) {
        --length;
    }
    buffer[length] = '\0';
    return length;
}

BOOL Win32ModuleInfo::GetFileVersion(platform::FileVersion* version) {
    // The program's own version resource, id 1, straight from its image.
    const HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    if (found == nullptr) return FALSE;
    const HGLOBAL loaded = ::LoadResource(nullptr, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr) return FALSE;
    return platform::ReadFixedFileVersion(data, ::SizeofResource(nullptr, found), version) ? TRUE
                                                                                           : FALSE;
}

}  // namespace qxr::win32
