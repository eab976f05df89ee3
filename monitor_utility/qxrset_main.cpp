// QxrSet.exe: the monitor dialog on the real Windows dialog manager and the imports of
// qxrtime.dll. The program's only window is the modal dialog; it ends when the dialog does.
#include "card_access/imported_card_client.h"
#include "monitor_utility/field_colours.h"
#include "monitor_utility/monitor_dialog.h"
#include "monitor_utility/qxrset_resources.h"
#include "monitor_utility/win32_dialog_controls.h"
#include "platform/win32/win32_machine.h"

namespace {

using namespace qxr;
using monitor::MonitorDialog;

// Everything the dialog owns, made before its window exists.
struct QxrSetProgram {
    explicit QxrSetProgram(HINSTANCE instance)
        : appIcon(::LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON))),
          fieldBrush(::CreateSolidBrush(monitor::kFieldBackground)),
          controls(instance, appIcon),
          dialog(pc.ports, card, controls) {}

    win32::Win32Machine pc;
    card_access::ImportedCardClient card;
    HICON appIcon;
    HBRUSH fieldBrush;
    monitor::Win32DialogControls controls;
    MonitorDialog dialog;
};

// The heartbeat icons at the size they are shown (the static controls would load the large
// image and show only its middle).
void LoadHeartbeatIcons(HINSTANCE instance, HWND window) {
    const int icons[3][2] = {{monitor::kHeartbeat1, IDI_HEARTBEAT1},
                             {monitor::kHeartbeat2, IDI_HEARTBEAT2},
                             {monitor::kHeartbeat3, IDI_HEARTBEAT3}};
    for (const auto& [control, icon] : icons) {
        const HANDLE image = ::LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, 16, 16, 0);
        if (image != nullptr) {
            ::SendDlgItemMessageA(window, control, STM_SETICON, reinterpret_cast<WPARAM>(image), 0);
        }
    }
}

INT_PTR Colours(QxrSetProgram& program, monitor::ColourRequest request, HDC dc, HWND control) {
    char className[16] = {};
    ::GetClassNameA(control, className, sizeof className);
    const monitor::FieldColours colours = monitor::ChooseFieldColours(
        request, ::lstrcmpiA(className, "Edit") == 0, program.fieldBrush != nullptr);
    if (!colours.custom) return FALSE;
    ::SetTextColor(dc, colours.text);
    ::SetBkColor(dc, colours.background);
    return reinterpret_cast<INT_PTR>(program.fieldBrush);
}

void OnCommand(QxrSetProgram& program, HWND window, int id, int code) {
    MonitorDialog& dialog = program.dialog;
    switch (id) {
        case monitor::kCardTimeField:
            if (code == EN_SETFOCUS) dialog.OnFocus(id);
            if (code == EN_CHANGE) dialog.OnCardTextChanged();
            break;
        case monitor::kSystemTimeField:
        case monitor::kOffsetField:
        case monitor::kPeakOffsetField:
        case monitor::kReferenceField:
            if (code == EN_SETFOCUS) dialog.OnFocus(id);
            break;
        case monitor::kSetButton:
            if (code == BN_CLICKED) dialog.OnSetClicked();
            break;
        case monitor::kAdjustBox:
            if (code == BN_CLICKED) dialog.OnAdjustClicked();
            break;
        case IDCANCEL:  // Esc or the close box: the only way out
            ::EndDialog(window, IDCANCEL);
            break;
        default:  // the default button (Enter) does nothing
            break;
    }
}

void PaintMinimized(QxrSetProgram& program, HWND window) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window, &paint);
    ::SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(window, &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, program.appIcon);
    ::EndPaint(window, &paint);
}

INT_PTR CALLBACK MonitorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        auto* program = reinterpret_cast<QxrSetProgram*>(lParam);
        program->controls.Attach(window);
        LoadHeartbeatIcons(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window, GWLP_HINSTANCE)),
                           window);
        program->dialog.OnInitDialog();
        return TRUE;
    }
    auto* program = reinterpret_cast<QxrSetProgram*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (program == nullptr) return FALSE;
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam) program->dialog.OnShow();
            return FALSE;
        case WM_TIMER:
            program->dialog.OnTimer();
            return TRUE;
        case WM_COMMAND:
            OnCommand(*program, window, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CTLCOLOREDIT:
            return Colours(*program, monitor::ColourRequest::kEdit, reinterpret_cast<HDC>(wParam),
                           reinterpret_cast<HWND>(lParam));
        case WM_CTLCOLORSTATIC:
            return Colours(*program, monitor::ColourRequest::kStatic, reinterpret_cast<HDC>(wParam),
                           reinterpret_cast<HWND>(lParam));
        case WM_HELP:
            program->dialog.OnHelp();
            return TRUE;
        case WM_PAINT:
            if (!::IsIconic(window)) return FALSE;
            PaintMinimized(*program, window);
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(program->appIcon);
        case WM_ENDSESSION:
            program->dialog.OnEndSession(wParam != FALSE);
            return TRUE;
        case WM_DESTROY:
            // The engine first: it hands the clock back at its nominal rate.
            program->dialog.OnDestroy();
            ::DeleteObject(program->fieldBrush);
            program->fieldBrush = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    QxrSetProgram program(instance);
    return monitor::ProgramExitCode(::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MONITOR),
                                                      nullptr, &MonitorDialogProc,
                                                      reinterpret_cast<LPARAM>(&program)));
}
