// What DeviceSettingsDialog does to its own window and controls: the dialog procedure
// implements it on the real dialog, tests on a fake. Message boxes go through the platform's
// message-box port with Window() as their owner.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::device_config {

class DialogPort {
  public:
    virtual ~DialogPort() = default;
    // The dialog window, owner of its message boxes.
    virtual HANDLE Window() = 0;
    // The application icon as the dialog's big and small icon (WM_SETICON).
    virtual void SetIcons() = 0;
    // CB_ADDSTRING: appends an entry to a drop-down list.
    virtual void AddListEntry(int control, const char* text) = 0;
    // CB_GETCURSEL: the selected index, -1 when nothing is selected.
    virtual int GetSelection(int control) = 0;
    // CB_SETCURSEL: selects an index, -1 for none. Sends no notification.
    virtual void SetSelection(int control, int index) = 0;
    // EnableWindow on a control.
    virtual void EnableControl(int control, bool enable) = 0;
    // PostMessageA(WM_CLOSE) to the dialog itself: it closes as cancelled once its loop runs.
    virtual void PostClose() = 0;
    // EndDialog with the given result (IDOK when accepted).
    virtual void EndDialog(int result) = 0;
};

}  // namespace qxr::device_config
