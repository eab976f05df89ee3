// qxrsimdrv.sys: a kernel-mode stand-in for the QXR card's driver. It serves the simulated
// card of card_model.h as \Device\QXR (\\.\QXR for user mode), started with the settings
// stored under its service key, and lets tests steer the card through scenario control.
#include <ddk/wdm.h>

#include "card_simulator/driver/driver_parameters.h"
#include "card_simulator/driver/request_dispatch.h"
#include "card_simulator/driver/simulator_device.h"

namespace qxr::simdriver {

SimulatorDevice g_simulator = {};

namespace {

const wchar_t kDeviceName[] = L"\\Device\\QXR";
const wchar_t kLinkName[] = L"\\DosDevices\\QXR";
constexpr DEVICE_TYPE kDeviceType = 0xBE90;

UNICODE_STRING CountedString(const wchar_t* text, size_t chars) {
    UNICODE_STRING s;
    s.Length = static_cast<USHORT>(chars * sizeof(wchar_t));
    s.MaximumLength = s.Length;
    s.Buffer = const_cast<PWCH>(text);
    return s;
}

UNICODE_STRING DeviceName() {
    return CountedString(kDeviceName, sizeof kDeviceName / 2 - 1);
}
UNICODE_STRING LinkName() {
    return CountedString(kLinkName, sizeof kLinkName / 2 - 1);
}

void NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link = LinkName();
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != nullptr) IoDeleteDevice(driver->DeviceObject);
    g_simulator.card.Stop();
}

NTSTATUS Load(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    card::CardSettings settings = g_simulator.card.Settings();
    ReadDriverParameters(registryPath, &settings);
    KeInitializeSpinLock(&g_simulator.lock);
    g_simulator.requestCount = 0;
    g_simulator.card.Start(settings);

    UNICODE_STRING deviceName = DeviceName();
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, kDeviceType, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING link = LinkName();
    status = IoCreateSymbolicLink(&link, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
#ifndef QXR_SIMDRV_NO_UNLOAD
    driver->DriverUnload = Unload;
#else
    (void)Unload;
#endif
    return STATUS_SUCCESS;
}

}  // namespace

}  // namespace qxr::simdriver

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    return qxr::simdriver::Load(driver, registryPath);
}
