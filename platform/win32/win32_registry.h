// The registry of the real Windows API.
#pragma once

#include "platform/ports/registry.h"

namespace qxr::win32 {

class Win32Registry : public platform::Registry {
  public:
    LSTATUS RegCreateKeyA(HKEY parent, LPCSTR subKey, HKEY* key) override {
        return ::RegCreateKeyA(parent, subKey, key);
    }
    LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, HKEY* key,
                            DWORD* disposition) override {
        return ::RegCreateKeyExA(parent, subKey, 0, const_cast<LPSTR>(""), options, access, nullptr,
                                 key, disposition);
    }
    LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, REGSAM access, HKEY* key) override {
        return ::RegOpenKeyExA(parent, subKey, 0, access, key);
    }
    LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD* type, BYTE* data, DWORD* size) override {
        return ::RegQueryValueExA(key, name, nullptr, type, data, size);
    }
    LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD type, const BYTE* data,
                           DWORD size) override {
        return ::RegSetValueExA(key, name, 0, type, data, size);
    }
    LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) override { return ::RegDeleteValueA(key, name); }
    LSTATUS RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
};

}  // namespace qxr::win32
