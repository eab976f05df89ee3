// Scheduling priorities, token privileges and the OS version of the running process.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class ProcessScheduling {
public:
    virtual ~ProcessScheduling() = default;
    virtual HANDLE GetCurrentProcess() = 0;
    virtual HANDLE GetCurrentThread() = 0;
    virtual DWORD GetPriorityClass(HANDLE process) = 0;
    virtual BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) = 0;
    virtual int GetThreadPriority(HANDLE thread) = 0;
    virtual BOOL SetThreadPriority(HANDLE thread, int priority) = 0;
};

class TokenPrivileges {
public:
    virtual ~TokenPrivileges() = default;
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) = 0;
    virtual BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                                       DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                                       DWORD* returnLength) = 0;
    virtual BOOL CloseHandle(HANDLE token) = 0;
};

class VersionInfo {
public:
    virtual ~VersionInfo() = default;
    virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
};

}  // namespace qxr::platform
