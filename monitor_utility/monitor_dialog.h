// MonitorDialog: QxrSet's one dialog. Five times a second it reads the card's status and time
// and shows the card's and the system's UTC time, their offset, a decaying peak offset, the
// active time reference and a heartbeat; the same refresh drives the setting of the card
// clock (a pending entry in the card-time field) and the optional tracking of the system
// clock by the dialog's own clock discipline engine.
#pragma once

#include <cstdint>
#include <optional>

#include "card_access/card_client.h"
#include "clock_discipline/clock_discipline.h"
#include "monitor_utility/dialog_controls.h"
#include "monitor_utility/display_texts.h"
#include "platform/ports/platform.h"

namespace qxr::monitor {

inline constexpr int32_t kTrackingRampSeconds = 10;
inline constexpr int32_t kTrackingMaxAdjustPercent = 100;
inline constexpr int32_t kTimeSetBias = 20;  // 100-us units: 2 ms
inline constexpr int kTrackingSlotSeconds = 6;
inline constexpr int kTextSize = kCardTimeLimit + 1;

// The dialog's displayed state, in the order the controls show it.
struct MonitorState {
    char cardTimeText[kTextSize] = {};
    char systemTimeText[kTextSize] = {};
    char offsetText[kTextSize] = {};
    int32_t peakOffsetMs = 0;
    char referenceText[kTextSize] = {};
    bool refreshCardTime = true;
    int32_t lastTickToggle = -1;
    int32_t lastAdjustSlot = -1;
    uint32_t heartbeatStep = 0;  // 136 years of steps before it wraps
    int lastFocus = kNoFocusWindow;
};

// QxrSet's exit code from DialogBoxParamA's result: 0 once the dialog has ended (Esc or the
// close box), 1 when it could not be made at all (-1).
inline int ProgramExitCode(INT_PTR dialogResult) {
    return dialogResult == -1 ? 1 : 0;
}

class MonitorDialog {
  public:
    // The ports, the card and the controls are used, not owned, and must outlive the dialog.
    // Constructing the dialog constructs its engine (which checks availability once).
    MonitorDialog(platform::Platform& ports, card_access::CardClient& card,
                  DialogControls& controls);
    MonitorDialog(const MonitorDialog&) = delete;
    MonitorDialog& operator=(const MonitorDialog&) = delete;

    // Window events, in the order Windows delivers them.
    void OnInitDialog();
    void OnShow();
    void OnTimer();  // the refresh
    void OnFocus(int controlId);
    void OnCardTextChanged();
    void OnSetClicked();
    void OnAdjustClicked();
    // A help request (F1 or the caption's help button and a click), for the control under the
    // mouse pointer.
    void OnHelp();
    // The window is being destroyed: the engine goes first and hands the clock back.
    void OnDestroy();
    // WM_ENDSESSION: a session that ends (log-off, shut-down) ends the process without
    // WM_DESTROY, so the clock is handed back here exactly as on destroy.
    void OnEndSession(bool ending);

    const MonitorState& State() const { return state_; }
    const PeakOffset& Peak() const { return peak_; }
    bool HasEngine() const { return discipline_.has_value(); }

  private:
    bool IsEditing() const {
        return state_.lastFocus == kCardTimeField || state_.lastFocus == kSetButton;
    }
    void TransferToControls();
    void StepHeartbeat(int32_t tickToggle);
    // The offset and peak of one refresh; nothing is measured when the card time names no
    // instant.
    void ShowOffset(int64_t systemTime, const CardTime& card);
    // Enables the box while the clock is ours to adjust and steps the engine once per slot.
    void TrackSystemTime(const CardTime& card);
    // The request of a blank entry: the system's UTC time of the next whole second.
    void NextWholeSecond(CardTime* request);

    platform::Platform& ports_;
    card_access::CardClient& card_;
    DialogControls& controls_;
    MonitorState state_;
    PeakOffset peak_;
    std::optional<discipline::ClockDiscipline> discipline_;
};

}  // namespace qxr::monitor
