// Scheduling priorities, the process token's privileges and the OS version from the real
// Windows API.
#pragma once

#include "platform/ports/process_control.h"

namespace qxr::win32 {

class Win32Process : public platform::ProcessScheduling,
                     public platform::TokenPrivileges,
                     public platform::VersionInfo {
  public:
    HANDLE GetCurrentProcess() override { return ::GetCurrentProcess(); }
    HANDLE GetCurrentThread() override { return ::GetCurrentThread(); }
    DWORD GetPriorityClass(HANDLE process) override { return ::GetPriorityClass(process); }
    BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) override {
        return ::SetPriorityClass(process, priorityClass);
    }
    int GetThreadPriority(HANDLE thread) override { return ::GetThreadPriority(thread); }
    BOOL SetThreadPriority(HANDLE thread, int priority) override {
        return ::SetThreadPriority(thread, priority);
    }

    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
        return ::OpenProcessToken(process, access, token);
    }
    BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) override {
        return ::LookupPrivilegeValueA(systemName, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                               DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                               DWORD* returnLength) override {
        return ::AdjustTokenPrivileges(token, disableAll, newState, bufferLength, previousState,
                                       returnLength);
    }
    BOOL CloseHandle(HANDLE token) override { return ::CloseHandle(token); }

    BOOL GetVersionExA(OSVERSIONINFOA* info) override { return ::GetVersionExA(info); }
};

}  // namespace qxr::win32
