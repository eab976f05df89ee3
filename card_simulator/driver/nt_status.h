// The completion status a driver gives a request so that user mode sees a chosen Win32
// error: the card model speaks Win32 numbers, the I/O manager NTSTATUS values.
#pragma once

#include <stdint.h>

namespace qxr::simdriver {

// 0 for 0; the status that the platform maps back onto `win32Error` otherwise.
uint32_t NtStatusFromWin32Error(uint32_t win32Error);

}  // namespace qxr::simdriver
