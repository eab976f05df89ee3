// Enables one named privilege of the process for a stretch and restores its previous state
// when it goes out of scope. Does nothing on a platform outside the NT family.
#pragma once

#include "platform/ports/process_control.h"

namespace qxr::discipline {

class PrivilegeGuard {
  public:
    PrivilegeGuard(platform::TokenPrivileges& privileges, platform::ProcessScheduling& scheduling,
                   platform::VersionInfo& version, LPCSTR privilegeName);
    ~PrivilegeGuard();
    PrivilegeGuard(const PrivilegeGuard&) = delete;
    PrivilegeGuard& operator=(const PrivilegeGuard&) = delete;

  private:
    platform::TokenPrivileges& privileges_;
    HANDLE token_ = nullptr;
    TOKEN_PRIVILEGES newState_{};
    // Room for one privilege; a count of 0 means nothing was changed.
    TOKEN_PRIVILEGES previousState_{};
};

}  // namespace qxr::discipline
