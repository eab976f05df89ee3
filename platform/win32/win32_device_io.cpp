#include "platform/win32/win32_device_io.h"

namespace qxr::win32 {

HANDLE Win32DeviceIo::CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                                  DWORD flags) {
    return ::CreateFileA(name, access, shareMode, nullptr, disposition, flags, nullptr);
}

BOOL Win32DeviceIo::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                    DWORD outSize, LPDWORD bytesReturned) {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned, nullptr);
}

BOOL Win32DeviceIo::CloseHandle(HANDLE device) {
    return ::CloseHandle(device);
}

}  // namespace qxr::win32
