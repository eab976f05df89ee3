// The dialog port on a real Windows dialog (QxrSet.exe).
#pragma once

#include "monitor_utility/dialog_controls.h"

namespace qxr::monitor {

class Win32DialogControls : public DialogControls {
  public:
    Win32DialogControls(HINSTANCE instance, HICON appIcon) : instance_(instance), icon_(appIcon) {}
    // The dialog window, once it exists.
    void Attach(HWND dialog) { dialog_ = dialog; }

    void SetDlgItemTextA(int id, const char* text) override;
    UINT GetDlgItemTextA(int id, char* buffer, int size) override;
    void LimitText(int id, int limit) override;
    void EnableWindow(int id, bool enable) override;
    void ShowWindow(int id, bool show) override;
    void SetWindowPos(int id, int width, int height, ZOrder order) override;
    void SetReadOnly(int id, bool readOnly) override;
    bool IsReadOnly(int id) override;
    bool IsChecked(int id) override;
    int GetFocus() override;
    void SetFocus(int id) override;
    void SetCaption(const char* text) override;
    void SetAppIcon() override;
    void SetTimer(UINT id, UINT periodMs) override;
    void MessageBeep(UINT type) override;
    bool ModifierKeyDown() override;
    int ChildAtCursor() override;
    void ShowHelpPopup(int templateId) override;

  private:
    HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }

    HINSTANCE instance_;
    HICON icon_;
    HWND dialog_ = nullptr;
};

}  // namespace qxr::monitor
