// Files, as the service's tracking log uses them: expand the %NAME% forms of its path, open or
// create one for appending, write, ask its size, rename it and close it.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // INVALID_HANDLE_VALUE on failure, with the reason in GetLastError(). With OPEN_ALWAYS and
    // an existing file the last error is ERROR_ALREADY_EXISTS, as on Windows.
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD flags) = 0;
    // Synchronous. FALSE on failure, reason in GetLastError(); *written says what went out.
    virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written) = 0;
    // The low 32 bits; the high ones in *high. INVALID_FILE_SIZE with a last error on failure.
    virtual DWORD GetFileSize(HANDLE file, LPDWORD high) = 0;
    virtual BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) = 0;
    virtual BOOL CloseHandle(HANDLE file) = 0;
    // As the API: the length needed including the terminator (more than `size`: not copied),
    // 0 on failure. Unknown names are left as written.
    virtual DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) = 0;
};

}  // namespace qxr::platform
