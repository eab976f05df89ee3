// The dialog port on a real dialog window and its controls.
#pragma once

#include "device_config/device_settings_ids.h"
#include "device_config/dialog_port.h"

namespace qxr::device_config {

class Win32DialogPort : public DialogPort {
  public:
    Win32DialogPort(HWND window, HINSTANCE instance) : window_(window), instance_(instance) {}

    HANDLE Window() override { return window_; }
    void SetIcons() override {
        const HICON big = ::LoadIconA(instance_, MAKEINTRESOURCEA(IDI_QXRCFGNT));
        // The 16x16 image of the same icon, not the big one shrunk.
        const HICON small = static_cast<HICON>(
            ::LoadImageA(instance_, MAKEINTRESOURCEA(IDI_QXRCFGNT), IMAGE_ICON,
                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        ::SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        ::SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
    void AddListEntry(int control, const char* text) override {
        ::SendDlgItemMessageA(window_, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    int GetSelection(int control) override {
        return static_cast<int>(::SendDlgItemMessageA(window_, control, CB_GETCURSEL, 0, 0));
    }
    void SetSelection(int control, int index) override {
        ::SendDlgItemMessageA(window_, control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    void EnableControl(int control, bool enable) override {
        ::EnableWindow(::GetDlgItem(window_, control), enable ? TRUE : FALSE);
    }
    void PostClose() override { ::PostMessageA(window_, WM_CLOSE, 0, 0); }
    void EndDialog(int result) override { ::EndDialog(window_, result); }

  private:
    HWND window_;
    HINSTANCE instance_;
};

}  // namespace qxr::device_config
