// The device channel: open a device by name, send it control requests, close it.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // INVALID_HANDLE_VALUE on failure, with the reason in GetLastError().
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                               DWORD flags) = 0;
    // Completes synchronously (no OVERLAPPED). FALSE on failure, reason in GetLastError().
    virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD bytesReturned) = 0;
    virtual BOOL CloseHandle(HANDLE device) = 0;
};

}  // namespace qxr::platform
