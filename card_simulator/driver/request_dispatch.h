// The driver's dispatch routines for \Device\QXR. Kernel-mode only.
#pragma once

#include <ddk/wdm.h>

namespace qxr::simdriver {

// The kernel calls these as stdcall (NTAPI), which on i386 is not the compiler's default.
// IRP_MJ_CREATE and IRP_MJ_CLOSE: every open succeeds; any number of handles at once.
NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp);
// IRP_MJ_DEVICE_CONTROL: the nine card requests and scenario control, all completed here,
// before the caller's DeviceIoControl returns.
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);

}  // namespace qxr::simdriver
