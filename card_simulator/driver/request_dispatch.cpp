#include "card_simulator/driver/request_dispatch.h"

#include "card_access/qxr_requests.h"
#include "card_simulator/driver/nt_status.h"
#include "card_simulator/driver/sim_control_handler.h"
#include "card_simulator/driver/simulator_device.h"

namespace qxr::simdriver {

namespace {

// Both clocks read back to back: the card latches its time against the same counter that
// user mode reads with QueryPerformanceCounter.
card::ClockSample SampleClocks() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER utc;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    KeQuerySystemTime(&utc);
    return card::ClockSample{utc.QuadPart, counter.QuadPart, frequency.QuadPart};
}

NTSTATUS Complete(PIRP irp, uint32_t win32Error, uint32_t bytes) {
    const NTSTATUS status = static_cast<NTSTATUS>(NtStatusFromWin32Error(win32Error));
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = win32Error == 0 ? bytes : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

}  // namespace

NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT, PIRP irp) {
    return Complete(irp, 0, 0);
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const uint32_t code = stack->Parameters.DeviceIoControl.IoControlCode;
    const uint32_t inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const uint32_t outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    // METHOD_BUFFERED: one system buffer holds the request and then the reply.
    void* buffer = irp->AssociatedIrp.SystemBuffer;

    uint32_t bytes = 0;
    uint32_t error = 0;
    KIRQL irql;
    if (code == IOCTL_QXR_SIM_CONTROL) {
        KeAcquireSpinLock(&g_simulator.lock, &irql);
        error = HandleSimControl(g_simulator.card, g_simulator.requestCount, buffer, inSize, buffer,
                                 outSize, &bytes);
        KeReleaseSpinLock(&g_simulator.lock, irql);
    } else {
        const card::ClockSample now = SampleClocks();
        KeAcquireSpinLock(&g_simulator.lock, &irql);
        ++g_simulator.requestCount;
        error = g_simulator.card.HandleRequest(now, code, buffer, inSize, buffer, outSize, &bytes);
        KeReleaseSpinLock(&g_simulator.lock, irql);
    }
    if (bytes > outSize) bytes = outSize;
    return Complete(irp, error, bytes);
}

}  // namespace qxr::simdriver
