// MonitorDialog: initialisation, showing, the refresh and the focus rules.
#include "monitor_utility/monitor_dialog.h"

#include <cstdio>
#include <cstring>

#include "card_access/card_time_conversion.h"
#include "clock_discipline/priority_boost.h"
#include "monitor_utility/field_help.h"
#include "platform/system_time.h"

namespace qxr::monitor {

namespace {

constexpr int kHeartbeatOrder[3] = {kHeartbeat1, kHeartbeat2, kHeartbeat3};
constexpr int kIconSize = 16;

const char* ReferenceName(TimeReference reference) {
    switch (reference) {
        case TimeReference::Gps:
            return "GPS";
        case TimeReference::OnBoardClock:
            return "Internal";
        default:
            return "none";
    }
}

void CopyText(char (&to)[kTextSize], const char* from) {
    std::snprintf(to, sizeof to, "%s", from);
}

}  // namespace

MonitorDialog::MonitorDialog(platform::Platform& ports, card_access::CardClient& card,
                             DialogControls& controls)
    : ports_(ports), card_(card), controls_(controls) {
    discipline_.emplace(discipline::DisciplinePorts::Of(ports), kTrackingRampSeconds,
                        kTrackingMaxAdjustPercent);
}

void MonitorDialog::OnInitDialog() {
    TransferToControls();
    controls_.SetAppIcon();
    char caption[128];
    FormatCaption(ports_.module, caption, sizeof caption);
    controls_.SetCaption(caption);
    controls_.EnableWindow(kAdjustBox, false);
    controls_.EnableWindow(kSetButton, false);
    // Invisible, but still the default button and a tab stop: where the focus is parked.
    controls_.SetWindowPos(kDefaultButton, 1, 1, ZOrder::kUnchanged);
    CardStatus status{};
    card_.GetHwStatus(&status);
    if (status.gpsPresent == 0) {
        controls_.ShowWindow(kReferenceLabel, false);
        controls_.ShowWindow(kReferenceField, false);
    }
    controls_.SetTimer(kRefreshTimerId, kRefreshPeriodMs);
}

void MonitorDialog::OnShow() {
    controls_.SetFocus(kDefaultButton);
    // The heartbeat icons lie on top of each other; the one raised last is seen.
    for (int i = 2; i >= 0; --i)
        controls_.SetWindowPos(kHeartbeatOrder[i], kIconSize, kIconSize, ZOrder::kTop);
}

void MonitorDialog::OnTimer() {
    const int focus = controls_.GetFocus();
    if (focus != kNoFocusWindow) state_.lastFocus = focus;
    const bool editing = IsEditing();
    if (!editing) controls_.EnableWindow(kSetButton, false);

    CardStatus status{};
    card_.GetHwStatus(&status);
    CopyText(state_.referenceText, ReferenceName(status.reference));
    controls_.SetReadOnly(kCardTimeField, status.reference != TimeReference::OnBoardClock);

    StepHeartbeat(status.tickToggle);

    FILETIME now{};
    CardTime card{};
    {
        // The two clocks back to back, system first, with nothing else in between.
        discipline::PriorityBoost boost(ports_.scheduling, REALTIME_PRIORITY_CLASS,
                                        THREAD_PRIORITY_TIME_CRITICAL);
        ports_.clock.GetSystemTimeAsFileTime(&now);
        card_.GetTime(&card);
    }
    const int64_t systemTime = FileTimeToInt64(now);

    if (!editing) FormatCardTime(card, state_.cardTimeText, sizeof state_.cardTimeText);
    SYSTEMTIME system{};
    FileTimeToSystemTimeFields(systemTime, &system);
    FormatSystemTime(system, state_.systemTimeText, sizeof state_.systemTimeText);

    ShowOffset(systemTime, card);
    TrackSystemTime(card);

    state_.refreshCardTime = !editing;
    TransferToControls();
}

void MonitorDialog::OnFocus(int controlId) {
    switch (controlId) {
        case kCardTimeField:
            if (controls_.IsReadOnly(kCardTimeField)) controls_.SetFocus(kDefaultButton);
            break;
        case kSystemTimeField:
        case kOffsetField:
        case kPeakOffsetField:
        case kReferenceField:
            controls_.SetFocus(kDefaultButton);
            break;
        default:
            break;
    }
}

void MonitorDialog::OnDestroy() {
    discipline_.reset();
}

void MonitorDialog::OnEndSession(bool ending) {
    if (ending) OnDestroy();
}

void MonitorDialog::TransferToControls() {
    if (state_.refreshCardTime) {
        controls_.SetDlgItemTextA(kCardTimeField, state_.cardTimeText);
        controls_.LimitText(kCardTimeField, kCardTimeLimit);
    }
    controls_.SetDlgItemTextA(kSystemTimeField, state_.systemTimeText);
    controls_.SetDlgItemTextA(kOffsetField, state_.offsetText);
    char peak[16];
    std::snprintf(peak, sizeof peak, "%d", static_cast<int>(state_.peakOffsetMs));
    controls_.SetDlgItemTextA(kPeakOffsetField, peak);
    controls_.SetDlgItemTextA(kReferenceField, state_.referenceText);
}

void MonitorDialog::StepHeartbeat(int32_t tickToggle) {
    if (tickToggle == state_.lastTickToggle) return;
    state_.lastTickToggle = tickToggle;
    // Hidden: no size, at the bottom; shown: full size, on top. Positions never change.
    controls_.SetWindowPos(kHeartbeatOrder[state_.heartbeatStep % 3], 0, 0, ZOrder::kBottom);
    controls_.SetWindowPos(kHeartbeatOrder[(state_.heartbeatStep + 1) % 3], kIconSize, kIconSize,
                           ZOrder::kTop);
    ++state_.heartbeatStep;
}

void MonitorDialog::ShowOffset(int64_t systemTime, const CardTime& card) {
    int64_t cardTime = 0;
    if (!CardTimeToFileTime(card, true, &cardTime)) {
        // No card instant: no offset is shown, and the peak neither rises nor decays on a
        // refresh that measured nothing.
        state_.offsetText[0] = '\0';
        return;
    }
    const int64_t offset = systemTime - cardTime;
    FormatOffset(offset, state_.offsetText, sizeof state_.offsetText);
    state_.peakOffsetMs = peak_.Sample(offset);
}

}  // namespace qxr::monitor
