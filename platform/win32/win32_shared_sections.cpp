#include "platform/win32/win32_shared_sections.h"

#include "platform/global_namespace.h"

namespace qxr::win32 {

namespace {

// A DACL of three entries: Everyone may map the section for reading; the system and the
// Administrators group may do everything. Never a NULL DACL, which would let anyone write.
class SectionSecurity {
  public:
    SectionSecurity() {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                      &everyone_) ||
            !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                      &system_) ||
            !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                      0, 0, 0, 0, 0, 0, &admins_)) {
            error_ = GetLastError();
            return;
        }
        const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
        const DWORD size = sizeof(ACL) + 3 * aceBase + GetLengthSid(everyone_) +
                           GetLengthSid(system_) + GetLengthSid(admins_);
        acl_ = static_cast<ACL*>(LocalAlloc(LPTR, size));
        if (acl_ == nullptr || !InitializeAcl(acl_, size, ACL_REVISION) ||
            !AddAccessAllowedAce(acl_, ACL_REVISION, FILE_MAP_READ, everyone_) ||
            !AddAccessAllowedAce(acl_, ACL_REVISION, SECTION_ALL_ACCESS, system_) ||
            !AddAccessAllowedAce(acl_, ACL_REVISION, SECTION_ALL_ACCESS, admins_) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_, FALSE)) {
            error_ = GetLastError();
            if (error_ == 0) error_ = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~SectionSecurity() {
        if (acl_ != nullptr) LocalFree(acl_);
        if (admins_ != nullptr) FreeSid(admins_);
        if (system_ != nullptr) FreeSid(system_);
        if (everyone_ != nullptr) FreeSid(everyone_);
    }
    SectionSecurity(const SectionSecurity&) = delete;
    SectionSecurity& operator=(const SectionSecurity&) = delete;

    DWORD Error() const { return error_; }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

  private:
    PSID everyone_ = nullptr;
    PSID system_ = nullptr;
    PSID admins_ = nullptr;
    ACL* acl_ = nullptr;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    DWORD error_ = 0;
};

}  // namespace

Win32SharedSections::~Win32SharedSections() {
    for (Open& o : open_) {
        if (o.view != nullptr) CloseSection(o.view);
    }
}

void* Win32SharedSections::CreateSection(const char* name, DWORD size, DWORD* error) {
    Open* slot = nullptr;
    for (Open& o : open_) {
        if (o.view == nullptr) {
            slot = &o;
            break;
        }
    }
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) version = OSVERSIONINFOA{};
    char fullName[MAX_PATH];
    if (slot == nullptr ||
        !platform::SharedObjectName(name, version.dwPlatformId, version.dwMajorVersion, fullName,
                                    sizeof fullName)) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    SectionSecurity security;
    if (security.Error() != 0) {
        *error = security.Error();
        return nullptr;
    }
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE,
                                        0, size, fullName);
    if (section == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        *error = GetLastError();
        CloseHandle(section);
        return nullptr;
    }
    slot->view = view;
    slot->section = section;
    *error = 0;
    return view;
}

void Win32SharedSections::CloseSection(void* view) {
    for (Open& o : open_) {
        if (o.view != nullptr && o.view == view) {
            UnmapViewOfFile(o.view);
            CloseHandle(o.section);
            o = Open{};
        }
    }
}

}  // namespace qxr::win32
