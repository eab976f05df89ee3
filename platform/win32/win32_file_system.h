// Files of the real Windows API.
#pragma once

#include "platform/ports/file_system.h"

namespace qxr::win32 {

class Win32FileSystem : public platform::FileSystem {
  public:
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flags) override {
        return ::CreateFileA(name, access, shareMode, nullptr, disposition, flags, nullptr);
    }
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written) override {
        return ::WriteFile(file, data, size, written, nullptr);
    }
    // GetFileSize rather than GetFileSizeEx, which NT 4.0 does not have.
    DWORD GetFileSize(HANDLE file, LPDWORD high) override { return ::GetFileSize(file, high); }
    BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) override {
        return ::MoveFileExA(from, to, flags);
    }
    BOOL CloseHandle(HANDLE file) override { return ::CloseHandle(file); }
    DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) override {
        return ::ExpandEnvironmentStringsA(source, destination, size);
    }
};

}  // namespace qxr::win32
