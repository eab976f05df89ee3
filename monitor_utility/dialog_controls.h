// The monitor dialog's controls as the portable code reaches them: a small Win32-shaped port
// that the Windows program implements on the real dialog and the tests on a fake one.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::monitor {

// Control ids of the monitor dialog, in template order.
inline constexpr int kCardTimeField = 1000;
inline constexpr int kSetButton = 1001;
inline constexpr int kDefaultButton = 1012;
inline constexpr int kAdjustBox = 1004;
inline constexpr int kSystemTimeField = 1002;
inline constexpr int kOffsetField = 1003;
inline constexpr int kPeakOffsetField = 1005;
inline constexpr int kReferenceField = 1006;
inline constexpr int kReferenceLabel = 1011;
inline constexpr int kHeartbeat1 = 1008;
inline constexpr int kHeartbeat2 = 1009;
inline constexpr int kHeartbeat3 = 1010;

// What GetFocus reports besides a control id.
inline constexpr int kNoFocusWindow = 0;  // another program is active
inline constexpr int kOtherWindow = -1;   // a window that is none of the dialog's controls

inline constexpr UINT kRefreshTimerId = 100;
inline constexpr UINT kRefreshPeriodMs = 200;
inline constexpr int kCardTimeLimit = 50;  // the card-time field's input limit

enum class ZOrder { kUnchanged, kTop, kBottom };

class DialogControls {
  public:
    virtual ~DialogControls() = default;
    virtual void SetDlgItemTextA(int id, const char* text) = 0;
    // Copies at most size - 1 characters and a terminator; returns the length copied.
    virtual UINT GetDlgItemTextA(int id, char* buffer, int size) = 0;
    virtual void LimitText(int id, int limit) = 0;  // EM_LIMITTEXT
    virtual void EnableWindow(int id, bool enable) = 0;
    virtual void ShowWindow(int id, bool show) = 0;
    // New size (position unchanged), and a place in the z-order.
    virtual void SetWindowPos(int id, int width, int height, ZOrder order) = 0;
    virtual void SetReadOnly(int id, bool readOnly) = 0;  // EM_SETREADONLY
    virtual bool IsReadOnly(int id) = 0;
    virtual bool IsChecked(int id) = 0;  // BM_GETCHECK
    // The focus window's control id, kOtherWindow, or kNoFocusWindow.
    virtual int GetFocus() = 0;
    // Windows reports the arrival to the dialog (MonitorDialog::OnFocus) before this returns.
    virtual void SetFocus(int id) = 0;
    virtual void SetCaption(const char* text) = 0;
    virtual void SetAppIcon() = 0;  // WM_SETICON, large and small
    virtual void SetTimer(UINT id, UINT periodMs) = 0;
    virtual void MessageBeep(UINT type) = 0;
    // Whether Shift, Ctrl or Alt is held down now.
    virtual bool ModifierKeyDown() = 0;
    // The id of the dialog's direct child under the mouse pointer (hidden and disabled ones
    // count), or kOtherWindow when there is none.
    virtual int ChildAtCursor() = 0;
    // Shows a help pop-up modally, owned by the dialog; returns when it is closed.
    virtual void ShowHelpPopup(int templateId) = 0;
};

}  // namespace qxr::monitor
