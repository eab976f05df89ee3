// The driver's dispatch routines for \Device\QXR. Kernel-mode only.
#pragma once

#include <ddk/wdm.h>

namespace qxr::simdriver {

// IRP_MJ_CREATE and IRP_MJ_CLOSE: every open succeeds; any number of handles at once.
NTSTATUS DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp);
// IRP_MJ_DEVICE_CONTROL: the nine card requests and scenario control, all completed here,
// before the caller's DeviceIoControl returns.
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);

}  // namespace qxr::simdriver
