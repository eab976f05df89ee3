// MonitorDialog: the pending entry in the card-time field and the Set action.
#include "monitor_utility/card_time_entry.h"
#include "monitor_utility/monitor_dialog.h"

namespace qxr::monitor {

void MonitorDialog::OnCardTextChanged() {
    // Only the operator's own changes count: the refresh writes the field while it has no
    // focus.
    if (controls_.GetFocus() == kCardTimeField) controls_.EnableWindow(kSetButton, true);
}

void MonitorDialog::OnSetClicked() {
    controls_.SetFocus(kCardTimeField);
    controls_.EnableWindow(kSetButton, false);
    state_.refreshCardTime = true;
    controls_.GetDlgItemTextA(kCardTimeField, state_.cardTimeText, sizeof state_.cardTimeText);

    CardTime request{};
    if (state_.cardTimeText[0] == '\0') {
        NextWholeSecond(&request);
    } else if (!ParseCardTimeEntry(state_.cardTimeText, &request)) {
        // Left in the field for correction.
        controls_.MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    card_.SetTime(&request);
    controls_.SetFocus(kDefaultButton);
}

void MonitorDialog::NextWholeSecond(CardTime* request) {
    SYSTEMTIME now{};
    ports_.clock.GetSystemTime(&now);
    // Ends 1 ms into the next whole second.
    ports_.ticks.Sleep(1001u - now.wMilliseconds);
    ports_.clock.GetSystemTime(&now);
    request->year = now.wYear;
    request->month = now.wMonth;
    request->day = now.wDay;
    request->hour = now.wHour;
    request->minute = now.wMinute;
    request->second = now.wSecond;
}

}  // namespace qxr::monitor
