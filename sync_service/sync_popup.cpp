// The GPS-off-line pop-up: one short-lived thread per box. The loop fills the warning text
// only after claiming the showing flag; the thread empties the text and drops the flag once
// the user has closed the box. The flag is the hand-over point between the two.
#include <cstring>

#include "sync_service/sync_service.h"

namespace qxr::sync {

bool SyncService::StartPopup() {
    bool expected = false;
    if (!warningShowing_.compare_exchange_strong(expected, true)) return false;
    static_assert(sizeof kPopupText <= kWarningSize, "the warning text must fit its buffer");
    std::memcpy(warningText_, kPopupText, sizeof kPopupText);
    DWORD threadId = 0;
    if (!Ports().threads.CreateThread(&SyncService::PopupThread, this, &threadId)) {
        // No thread will ever empty the text: give it back, or no pop-up would come again.
        warningText_[0] = '\0';
        warningShowing_.store(false);
    }
    return true;
}

DWORD SyncService::PopupThread(LPVOID service) {
    static_cast<SyncService*>(service)->ShowPopup();
    return 0;
}

void SyncService::ShowPopup() {
    Ports().messageBoxes.MessageBoxA(nullptr, warningText_, kPopupCaption, kPopupStyle);
    warningText_[0] = '\0';
    warningShowing_.store(false);
}

}  // namespace qxr::sync
