// A service control manager handle closed on every way out.
#pragma once

#include "platform/ports/service_manager.h"

namespace qxr::sync {

class ScHandle {
  public:
    ScHandle(platform::ServiceManager& services, SC_HANDLE handle)
        : services_(services), handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) {
            // Closing must not hide the error a caller is about to print.
            const DWORD error = GetLastError();
            services_.CloseServiceHandle(handle_);
            SetLastError(error);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    platform::ServiceManager& services_;
    SC_HANDLE handle_;
};

}  // namespace qxr::sync
