// Threads, the desktop message box (with the service-notification style) and the system's
// texts of its error codes.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

using ThreadRoutine = DWORD (*)(LPVOID parameter);

class Threads {
public:
    virtual ~Threads() = default;
    // Starts a detached thread; FALSE when it cannot be started.
    virtual BOOL CreateThread(ThreadRoutine routine, LPVOID parameter, DWORD* threadId) = 0;
    virtual DWORD GetCurrentThreadId() = 0;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Returns when the user has dismissed the box.
    virtual int MessageBoxA(HANDLE owner, LPCSTR text, LPCSTR caption, UINT style) = 0;
    // The system's text of a Win32 error code (FormatMessageA from the system, no inserts),
    // without its line end; the length, or 0 (and an empty text) when there is none.
    virtual DWORD FormatMessageA(DWORD error, LPSTR buffer, DWORD size) = 0;
};

// The running program's own file: its path and the file version of its version resource.
struct FileVersion {
    WORD major;
    WORD minor;
    WORD build;
    WORD revision;
};

class ModuleInfo {
public:
    virtual ~ModuleInfo() = default;
    // Length copied (0 on failure), as GetModuleFileNameA(NULL, ...).
    virtual DWORD GetModuleFileNameA(char* buffer, DWORD size) = 0;
    // FALSE when the module has no version resource.
    virtual BOOL GetFileVersion(FileVersion* version) = 0;
};

}  // namespace qxr::platform
