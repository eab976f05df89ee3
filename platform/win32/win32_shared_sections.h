// Shared sections on Windows: sections of the paging file with a security descriptor that
// lets every user map them for reading and only the system and administrators do more,
// built with the calls NT 4.0 has; the name in the global namespace where Windows has one
// (platform/global_namespace.h).
#pragma once

#include "platform/ports/shared_sections.h"

namespace qxr::win32 {

class Win32SharedSections : public platform::SharedSections {
  public:
    Win32SharedSections() = default;
    ~Win32SharedSections() override;
    Win32SharedSections(const Win32SharedSections&) = delete;
    Win32SharedSections& operator=(const Win32SharedSections&) = delete;

    void* CreateSection(const char* name, DWORD size, DWORD* error) override;
    void CloseSection(void* view) override;

  private:
    static constexpr int kMaxOpen = 4;
    struct Open {
        void* view = nullptr;
        HANDLE section = nullptr;
    };
    Open open_[kMaxOpen];
};

}  // namespace qxr::win32
