// The device channel of the real Windows API.
#pragma once

#include "platform/ports/device_io.h"

namespace qxr::win32 {

class Win32DeviceIo : public platform::DeviceIo {
  public:
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flags) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD bytesReturned) override;
    BOOL CloseHandle(HANDLE device) override;
};

}  // namespace qxr::win32
