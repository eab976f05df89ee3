// The simulated process's scheduling, access token and OS version: priority class and thread
// priority, privileges by LUID with a name table, the platform family, and a switch that makes
// chosen calls fail. PrivilegeCheck() plugs into SimClock::SetPrivilegeCheck so that setting
// the clock fails unless the privilege is enabled, as on NT.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ports/process_control.h"

namespace qxr::sim {

// The calls SimProcess::FailCalls can make fail (a bit set).
enum SimProcessCall : unsigned {
    kGetPriorityClass = 1u << 0,
    kSetPriorityClass = 1u << 1,
    kGetThreadPriority = 1u << 2,
    kSetThreadPriority = 1u << 3,
    kOpenProcessToken = 1u << 4,
    kLookupPrivilegeValue = 1u << 5,
    kAdjustTokenPrivileges = 1u << 6,
    kCloseHandle = 1u << 7,
    kGetVersionEx = 1u << 8,
    kAllProcessCalls = 0x1FFu,
};

class SimProcess : public platform::ProcessScheduling,
                   public platform::TokenPrivileges,
                   public platform::VersionInfo {
  public:
    // GetThreadPriority's failure value.
    static constexpr int kThreadPriorityErrorReturn = 0x7FFFFFFF;

    // An NT 4.0 process in the normal class at normal thread priority, holding every privilege
    // of the name table, none of them enabled.
    SimProcess();

    // ProcessScheduling
    HANDLE GetCurrentProcess() override;
    HANDLE GetCurrentThread() override;
    DWORD GetPriorityClass(HANDLE process) override;
    BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) override;
    int GetThreadPriority(HANDLE thread) override;
    BOOL SetThreadPriority(HANDLE thread, int priority) override;
    // TokenPrivileges (one privilege per AdjustTokenPrivileges call, all this system needs).
    // As on NT, adjusting needs a token opened with TOKEN_ADJUST_PRIVILEGES, and asking for
    // the previous state also TOKEN_QUERY.
    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override;
    BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                               DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                               DWORD* returnLength) override;
    BOOL CloseHandle(HANDLE token) override;
    // VersionInfo
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;

    // Scenario controls.
    void SetPlatformId(DWORD platformId) { platformId_ = platformId; }
    void SetMajorVersion(DWORD major) { majorVersion_ = major; }
    // The calls in `calls` (SimProcessCall bits) fail with ERROR_ACCESS_DENIED until changed.
    void FailCalls(unsigned calls) { failing_ = calls; }
    void SetPriorityClassValue(DWORD priorityClass) { priorityClass_ = priorityClass; }
    void SetThreadPriorityValue(int priority) { threadPriority_ = priority; }
    // Whether the token holds the named privilege at all, and whether it is enabled.
    void SetPrivilegeHeld(LPCSTR name, bool held);
    void SetPrivilegeEnabled(LPCSTR name, bool enabled);
    bool IsPrivilegeEnabled(LPCSTR name) const;
    // True while the named privilege is enabled, or always outside the NT family.
    std::function<bool()> PrivilegeCheck(LPCSTR name) const;

    DWORD PriorityClass() const { return priorityClass_; }
    int ThreadPriority() const { return threadPriority_; }
    int OpenTokenCount() const { return static_cast<int>(openTokens_.size()); }
    // The access asked for by the last successful OpenProcessToken (0 before any).
    DWORD LastTokenAccess() const { return lastTokenAccess_; }
    int SetPriorityClassCount() const { return setClassCount_; }
    int SetThreadPriorityCount() const { return setThreadCount_; }

  private:
    struct Privilege {
        std::string name;
        LUID luid;
        bool held;
        bool enabled;
    };

    bool Fails(unsigned call);
    Privilege* Find(LPCSTR name);
    const Privilege* Find(LPCSTR name) const;
    Privilege* Find(const LUID& luid);
    // The access the token was opened with, or nullptr when it is not an open token.
    const DWORD* OpenTokenAccess(HANDLE token) const;

    DWORD platformId_ = VER_PLATFORM_WIN32_NT;
    DWORD majorVersion_ = 4;
    unsigned failing_ = 0;
    DWORD priorityClass_ = NORMAL_PRIORITY_CLASS;
    int threadPriority_ = THREAD_PRIORITY_NORMAL;
    std::vector<Privilege> privileges_;
    struct OpenToken {
        HANDLE handle;
        DWORD access;
    };
    std::vector<OpenToken> openTokens_;
    uintptr_t nextToken_ = 0x100;
    DWORD lastTokenAccess_ = 0;
    int setClassCount_ = 0;
    int setThreadCount_ = 0;
};

}  // namespace qxr::sim
