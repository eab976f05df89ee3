#include "monitor_utility/win32_dialog_controls.h"

namespace qxr::monitor {

namespace {

// A help pop-up: OK, Esc and the close box end it; everything else is left to the dialog
// manager.
INT_PTR CALLBACK HelpPopupProc(HWND popup, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(popup, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void Win32DialogControls::SetDlgItemTextA(int id, const char* text) {
    ::SetDlgItemTextA(dialog_, id, text);
}

UINT Win32DialogControls::GetDlgItemTextA(int id, char* buffer, int size) {
    return ::GetDlgItemTextA(dialog_, id, buffer, size);
}

void Win32DialogControls::LimitText(int id, int limit) {
    ::SendDlgItemMessageA(dialog_, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
}

void Win32DialogControls::EnableWindow(int id, bool enable) {
    ::EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void Win32DialogControls::ShowWindow(int id, bool show) {
    ::ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE);
}

void Win32DialogControls::SetWindowPos(int id, int width, int height, ZOrder order) {
    UINT flags = SWP_NOMOVE | SWP_NOACTIVATE;
    if (order == ZOrder::kUnchanged) flags |= SWP_NOZORDER;
    ::SetWindowPos(Item(id), order == ZOrder::kBottom ? HWND_BOTTOM : HWND_TOP, 0, 0, width, height,
                   flags);
}

void Win32DialogControls::SetReadOnly(int id, bool readOnly) {
    ::SendDlgItemMessageA(dialog_, id, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

bool Win32DialogControls::IsReadOnly(int id) {
    return (::GetWindowLongA(Item(id), GWL_STYLE) & ES_READONLY) != 0;
}

bool Win32DialogControls::IsChecked(int id) {
    return ::IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

int Win32DialogControls::GetFocus() {
    const HWND focus = ::GetFocus();
    if (focus == nullptr) return kNoFocusWindow;
    if (::GetParent(focus) != dialog_) return kOtherWindow;
    const int id = ::GetDlgCtrlID(focus);
    return id != 0 ? id : kOtherWindow;
}

void Win32DialogControls::SetFocus(int id) {
    // Through the dialog manager, so that the default button follows the focus.
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

void Win32DialogControls::SetCaption(const char* text) {
    ::SetWindowTextA(dialog_, text);
}

void Win32DialogControls::SetAppIcon() {
    ::SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void Win32DialogControls::SetTimer(UINT id, UINT periodMs) {
    ::SetTimer(dialog_, id, periodMs, nullptr);
}

void Win32DialogControls::MessageBeep(UINT type) {
    ::MessageBeep(type);
}

bool Win32DialogControls::ModifierKeyDown() {
    return ::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 ||
           ::GetKeyState(VK_MENU) < 0;
}

int Win32DialogControls::ChildAtCursor() {
    POINT point{};
    ::GetCursorPos(&point);
    ::ScreenToClient(dialog_, &point);
    RECT client{};
    ::GetClientRect(dialog_, &client);
    if (!::PtInRect(&client, point)) return kOtherWindow;
    // Hidden and disabled children count.
    const HWND child = ::ChildWindowFromPoint(dialog_, point);
    if (child == nullptr || child == dialog_) return kOtherWindow;
    return ::GetDlgCtrlID(child);
}

void Win32DialogControls::ShowHelpPopup(int templateId) {
    ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId), dialog_, &HelpPopupProc, 0);
}

}  // namespace qxr::monitor
