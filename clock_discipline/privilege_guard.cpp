#include "clock_discipline/privilege_guard.h"

namespace qxr::discipline {

PrivilegeGuard::PrivilegeGuard(platform::TokenPrivileges& privileges,
                               platform::ProcessScheduling& scheduling,
                               platform::VersionInfo& version, LPCSTR privilegeName)
    : privileges_(privileges) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!version.GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return;

    HANDLE token = nullptr;
    if (!privileges_.OpenProcessToken(scheduling.GetCurrentProcess(),
                                      TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    token_ = token;
    LUID luid{};
    if (!privileges_.LookupPrivilegeValueA(nullptr, privilegeName, &luid)) return;
    newState_.PrivilegeCount = 1;
    newState_.Privileges[0].Luid = luid;
    newState_.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Without the privilege the protected calls fail on their own; nothing to check here.
    DWORD returned = 0;
    privileges_.AdjustTokenPrivileges(token_, FALSE, &newState_, sizeof previousState_,
                                      &previousState_, &returned);
}

PrivilegeGuard::~PrivilegeGuard() {
    if (previousState_.PrivilegeCount >= 1) {
        // The buffer has room for one entry; never let the system read past it.
        previousState_.PrivilegeCount = 1;
        privileges_.AdjustTokenPrivileges(token_, FALSE, &previousState_, 0, nullptr, nullptr);
    }
    if (token_ != nullptr) privileges_.CloseHandle(token_);
}

}  // namespace qxr::discipline
