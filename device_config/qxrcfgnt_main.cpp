// QxrCfgNT.exe: the device settings dialog on the real dialog manager. The dialog procedure
// only turns messages into calls on DeviceSettingsDialog. Arguments are ignored; the exit
// code is 0 however the dialog ends.
#include <memory>

#include "device_config/device_settings_dialog.h"
#include "device_config/device_settings_ids.h"
#include "device_config/win32_dialog_port.h"
#include "platform/win32/win32_machine.h"

namespace {

using qxr::device_config::DeviceSettingsDialog;
using qxr::device_config::Win32DialogPort;

struct DialogContext {
    qxr::win32::Win32Machine& pc;
    HINSTANCE instance;
    std::unique_ptr<Win32DialogPort> port;
    std::unique_ptr<DeviceSettingsDialog> dialog;
};

INT_PTR CALLBACK DeviceSettingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<DialogContext*>(::GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            context = reinterpret_cast<DialogContext*>(lParam);
            ::SetWindowLongPtrA(window, DWLP_USER, lParam);
            context->port = std::make_unique<Win32DialogPort>(window, context->instance);
            context->dialog =
                std::make_unique<DeviceSettingsDialog>(context->pc.ports, *context->port);
            return context->dialog->InitDialog() ? TRUE : FALSE;
        case WM_COMMAND:
            if (context == nullptr || !context->dialog) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_BUS_LIST:
                    if (HIWORD(wParam) == CBN_SELENDOK) context->dialog->OnBusSelected();
                    return TRUE;
                case IDC_IRQ_LIST:
                    if (HIWORD(wParam) == CBN_SELENDOK) context->dialog->OnInterruptSelected();
                    return TRUE;
                case IDOK:
                    context->dialog->ApplySettings();
                    return TRUE;
                case IDCANCEL:  // Escape and the system menu's Close: nothing is written
                    ::EndDialog(window, IDCANCEL);
                    return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            ::EndDialog(window, IDCANCEL);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    qxr::win32::Win32Machine pc;
    DialogContext context{pc, instance, nullptr, nullptr};
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DEVICE_SETTINGS), nullptr, DeviceSettingsProc,
                      reinterpret_cast<LPARAM>(&context));
    return 0;
}
