// Threads, the message box and the program's own module of the real Windows API.
#pragma once

#include "platform/ports/threads.h"

namespace qxr::win32 {

class Win32Threads : public platform::Threads {
  public:
    // The thread is detached: its handle is closed at once.
    BOOL CreateThread(platform::ThreadRoutine routine, LPVOID parameter, DWORD* threadId) override;
    DWORD GetCurrentThreadId() override { return ::GetCurrentThreadId(); }
};

class Win32MessageBoxes : public platform::MessageBoxes {
  public:
    int MessageBoxA(HANDLE owner, LPCSTR text, LPCSTR caption, UINT style) override {
        return ::MessageBoxA(static_cast<HWND>(owner), text, caption, style);
    }
    DWORD FormatMessageA(DWORD error, LPSTR buffer, DWORD size) override;
};

class Win32ModuleInfo : public platform::ModuleInfo {
  public:
    DWORD GetModuleFileNameA(char* buffer, DWORD size) override {
        return ::GetModuleFileNameA(nullptr, buffer, size);
    }
    // From the fixed part of the program's own version resource (FindResourceA, LoadResource,
    // LockResource: no version.dll, and no path whose length could fail it).
    BOOL GetFileVersion(platform::FileVersion* version) override;
};

}  // namespace qxr::win32
