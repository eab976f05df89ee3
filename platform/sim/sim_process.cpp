#include "platform/sim/sim_process.h"

#include <algorithm>
#include <cstring>

namespace qxr::sim {

namespace {

HANDLE PseudoHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
const HANDLE kCurrentProcess = PseudoHandle(-1);
const HANDLE kCurrentThread = PseudoHandle(-2);

bool IsPriorityClass(DWORD value) {
    switch (value) {
        case IDLE_PRIORITY_CLASS:
        case BELOW_NORMAL_PRIORITY_CLASS:
        case NORMAL_PRIORITY_CLASS:
        case ABOVE_NORMAL_PRIORITY_CLASS:
        case HIGH_PRIORITY_CLASS:
        case REALTIME_PRIORITY_CLASS:
            return true;
        default:
            return false;
    }
}

bool SameName(const std::string& a, LPCSTR b) {
    if (std::strlen(b) != a.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool SameLuid(const LUID& a, const LUID& b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

}  // namespace

SimProcess::SimProcess()
    : privileges_{{"SeSystemtimePrivilege", LUID{12, 0}, true, false},
                  {"SeShutdownPrivilege", LUID{19, 0}, true, false},
                  {"SeDebugPrivilege", LUID{20, 0}, true, false}} {}

bool SimProcess::Fails(unsigned call) {
    if ((failing_ & call) == 0) return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

HANDLE SimProcess::GetCurrentProcess() {
    return kCurrentProcess;
}

HANDLE SimProcess::GetCurrentThread() {
    return kCurrentThread;
}

DWORD SimProcess::GetPriorityClass(HANDLE process) {
    if (Fails(kGetPriorityClass)) return 0;
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return priorityClass_;
}

BOOL SimProcess::SetPriorityClass(HANDLE process, DWORD priorityClass) {
    ++setClassCount_;
    if (Fails(kSetPriorityClass)) return FALSE;
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!IsPriorityClass(priorityClass)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    priorityClass_ = priorityClass;
    return TRUE;
}

int SimProcess::GetThreadPriority(HANDLE thread) {
    if (Fails(kGetThreadPriority)) return kThreadPriorityErrorReturn;
    if (thread != kCurrentThread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return kThreadPriorityErrorReturn;
    }
    return threadPriority_;
}

BOOL SimProcess::SetThreadPriority(HANDLE thread, int priority) {
    ++setThreadCount_;
    if (Fails(kSetThreadPriority)) return FALSE;
    if (thread != kCurrentThread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The named levels, and in the real-time class also -7..-3 and 3..6.
    const bool named = priority == THREAD_PRIORITY_IDLE ||
                       priority == THREAD_PRIORITY_TIME_CRITICAL ||
                       (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
    const bool realTimeOnly =
        priorityClass_ == REALTIME_PRIORITY_CLASS &&
        ((priority >= -7 && priority <= -3) || (priority >= 3 && priority <= 6));
    if (!named && !realTimeOnly) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    threadPriority_ = priority;
    return TRUE;
}

BOOL SimProcess::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    if (Fails(kOpenProcessToken)) return FALSE;
    if (process != kCurrentProcess || token == nullptr) {
        SetLastError(process != kCurrentProcess ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    nextToken_ += 4;
    *token = reinterpret_cast<HANDLE>(nextToken_);
    openTokens_.push_back(OpenToken{*token, access});
    lastTokenAccess_ = access;
    return TRUE;
}

BOOL SimProcess::LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) {
    if (Fails(kLookupPrivilegeValue)) return FALSE;
    if (systemName != nullptr && systemName[0] != '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);  // only the local system exists here
        return FALSE;
    }
    const Privilege* privilege = name != nullptr ? Find(name) : nullptr;
    if (privilege == nullptr || luid == nullptr) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    *luid = privilege->luid;
    return TRUE;
}

BOOL SimProcess::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                                       DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                                       DWORD* returnLength) {
    if (Fails(kAdjustTokenPrivileges)) return FALSE;
    const DWORD* access = OpenTokenAccess(token);
    if (access == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const DWORD required =
        TOKEN_ADJUST_PRIVILEGES | (previousState != nullptr ? TOKEN_QUERY : DWORD{0});
    if ((*access & required) != required) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (disableAll || newState == nullptr || newState->PrivilegeCount > 1) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    Privilege* privilege =
        newState->PrivilegeCount == 1 ? Find(newState->Privileges[0].Luid) : nullptr;
    const bool assignable = privilege != nullptr && privilege->held;
    const bool enable = (newState->Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    const bool changes = assignable && privilege->enabled != enable;
    // The previous state lists only what this call changes.
    const DWORD needed = changes ? DWORD{sizeof(TOKEN_PRIVILEGES)} : DWORD{sizeof(DWORD)};
    if (previousState != nullptr) {
        if (returnLength != nullptr) *returnLength = needed;
        if (bufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        previousState->PrivilegeCount = changes ? 1 : 0;
        if (changes) {
            previousState->Privileges[0].Luid = privilege->luid;
            previousState->Privileges[0].Attributes = privilege->enabled ? SE_PRIVILEGE_ENABLED : 0;
        }
    }
    if (changes) privilege->enabled = enable;
    SetLastError(assignable || newState->PrivilegeCount == 0 ? ERROR_SUCCESS
                                                             : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL SimProcess::CloseHandle(HANDLE token) {
    if (Fails(kCloseHandle)) return FALSE;
    const auto it = std::find_if(openTokens_.begin(), openTokens_.end(),
                                 [token](const OpenToken& open) { return open.handle == token; });
    if (it == openTokens_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    openTokens_.erase(it);
    return TRUE;
}

BOOL SimProcess::GetVersionExA(OSVERSIONINFOA* info) {
    if (Fails(kGetVersionEx)) return FALSE;
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const bool nt = platformId_ == VER_PLATFORM_WIN32_NT;
    info->dwMajorVersion = majorVersion_;
    info->dwMinorVersion = nt ? 0 : 10;
    info->dwBuildNumber = nt ? 1381 : 2222;
    info->dwPlatformId = platformId_;
    std::strncpy(info->szCSDVersion, nt ? "Service Pack 6" : "", sizeof info->szCSDVersion);
    return TRUE;
}

void SimProcess::SetPrivilegeHeld(LPCSTR name, bool held) {
    if (Privilege* privilege = Find(name)) {
        privilege->held = held;
        if (!held) privilege->enabled = false;
    }
}

void SimProcess::SetPrivilegeEnabled(LPCSTR name, bool enabled) {
    if (Privilege* privilege = Find(name)) privilege->enabled = enabled && privilege->held;
}

bool SimProcess::IsPrivilegeEnabled(LPCSTR name) const {
    const Privilege* privilege = Find(name);
    return privilege != nullptr && privilege->enabled;
}

std::function<bool()> SimProcess::PrivilegeCheck(LPCSTR name) const {
    const std::string wanted = name;
    return [this, wanted] {
        return platformId_ != VER_PLATFORM_WIN32_NT || IsPrivilegeEnabled(wanted.c_str());
    };
}

SimProcess::Privilege* SimProcess::Find(LPCSTR name) {
    for (Privilege& privilege : privileges_) {
        if (SameName(privilege.name, name)) return &privilege;
    }
    return nullptr;
}

const SimProcess::Privilege* SimProcess::Find(LPCSTR name) const {
    return const_cast<SimProcess*>(this)->Find(name);
}

SimProcess::Privilege* SimProcess::Find(const LUID& luid) {
    for (Privilege& privilege : privileges_) {
        if (SameLuid(privilege.luid, luid)) return &privilege;
    }
    return nullptr;
}

const DWORD* SimProcess::OpenTokenAccess(HANDLE token) const {
    for (const OpenToken& open : openTokens_) {
        if (open.handle == token) return &open.access;
    }
    return nullptr;
}

}  // namespace qxr::sim
