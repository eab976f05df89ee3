// DeviceSettingsDialog: chooses where the card sits (PCI, or ISA with a port and an
// interrupt), stores the choice as the driver's three registry parameters and restarts the
// driver service so that it starts again with them. The dialog procedure turns messages into
// the calls below; the controls are reached through a DialogPort, the registry, the service
// manager, the tick counter and message boxes through the platform ports.
//
// Registry values are read into a 4-byte buffer: one whose data is shorter is taken
// zero-extended (only the bytes the query returned), one that is longer or missing leaves the
// setting as it was (0 at start-up).
#pragma once

#include <cstdint>

#include "device_config/dialog_port.h"
#include "platform/ports/platform.h"

namespace qxr::device_config {

inline constexpr char kDriverServiceName[] = "QxrDrv";
inline constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrDrv\\Parameters";
inline constexpr char kBusTypeValue[] = "Quoxar Product";
inline constexpr char kIoPortValue[] = "I/O Port";
inline constexpr char kIrqValue[] = "Interrupt (IRQ)";
inline constexpr char kNotInstalledText[] = "QxrDrv driver not installed or improperly installed.";
inline constexpr char kNotStoppedText[] = "Unable to stop driver";
// What failed on the way to saved settings and a restarted driver; each is shown with the
// system's text of the error below it.
inline constexpr char kKeyNotWritableText[] =
    "Unable to save the settings: the QxrDrv Parameters key cannot be opened for writing.";
inline constexpr char kValueNotWrittenFormat[] =
    "Unable to save the setting \"%s\": the driver was not restarted.";
inline constexpr char kNotRestartedText[] =
    "Unable to restart driver: the settings are saved and apply at its next start.";
inline constexpr char kNotStartedText[] = "Unable to start driver";
inline constexpr char kErrorCaption[] = "Error";
inline constexpr UINT kErrorBoxStyle = MB_OK | MB_ICONHAND;
// How long the driver may take to stop before the restart goes on regardless.
inline constexpr DWORD kDriverStopTimeoutMs = 10000;

class DeviceSettingsDialog {
  public:
    DeviceSettingsDialog(platform::Platform& ports, DialogPort& dialog);

    // WM_INITDIALOG: fills both lists, then LoadSettings. True: the default focus applies.
    bool InitDialog();
    bool LoadSettings();
    // CBN_SELENDOK from the bus list and from the interrupt list.
    void OnBusSelected();
    void OnInterruptSelected();
    // The OK command: writes and restarts when something changed, then ends the dialog.
    void ApplySettings();

    void ShowBusSelection();
    void ShowInterruptSelection();
    void UpdateOkButton();
    // False when the query failed; the target is then left as it was.
    bool ReadDwordValue(HKEY key, const char* name, int32_t* target);
    // ERROR_SUCCESS or the registry's error.
    LSTATUS WriteDwordValue(HKEY key, const char* name, int32_t value);
    void RestartDriver();
    // True once the driver is stopped, false (after the message) at the deadline.
    bool WaitForDriverStop(SC_HANDLE service, SERVICE_STATUS* status);

    int32_t BusType() const { return busType_; }
    int32_t IoPort() const { return ioPort_; }
    int32_t Irq() const { return irq_; }

  private:
    void ShowError(const char* text);
    // The text, a blank line and the system's text of `error`.
    void ShowSystemError(const char* text, DWORD error);

    platform::Platform& ports_;
    DialogPort& dialog_;
    int32_t busType_ = 0;
    int32_t ioPort_ = 0;
    int32_t irq_ = 0;
    // As read at start-up: OK writes only when the choice differs.
    int32_t loadedBusType_ = 0;
    int32_t loadedIoPort_ = 0;
    int32_t loadedIrq_ = 0;
};

}  // namespace qxr::device_config
