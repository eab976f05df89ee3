// The registry, as the programs use it: keys under HKEY_LOCAL_MACHINE and their values.
// Every operation returns a Win32 error code (ERROR_SUCCESS on success), as the API does.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class Registry {
public:
    virtual ~Registry() = default;
    virtual LSTATUS RegCreateKeyA(HKEY parent, LPCSTR subKey, HKEY* key) = 0;
    virtual LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access,
                                    HKEY* key, DWORD* disposition) = 0;
    virtual LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, REGSAM access, HKEY* key) = 0;
    // data may be null to ask for the size; size is in/out as in the API.
    virtual LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD* type, BYTE* data,
                                     DWORD* size) = 0;
    virtual LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD type, const BYTE* data,
                                   DWORD size) = 0;
    virtual LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
};

}  // namespace qxr::platform
