// MonitorDialog: the system clock's tracking of the card by the dialog's own engine.
#include "card_access/card_time_conversion.h"
#include "monitor_utility/monitor_dialog.h"

namespace qxr::monitor {

void MonitorDialog::TrackSystemTime(const CardTime& card) {
    if (!discipline_) return;
    controls_.EnableWindow(kAdjustBox, discipline_->IsAdjustmentAvailable());
    // A checked box steps even while disabled: the engine itself then does nothing.
    if (!controls_.IsChecked(kAdjustBox)) return;
    const int32_t slot = card.second / kTrackingSlotSeconds;
    if (slot == state_.lastAdjustSlot) return;
    int64_t cardSecond = 0;
    // A card time that names no instant (a failed read, the leap second) is not fed to the
    // engine, and the slot stays due for the next reading that does.
    if (!CardTimeToFileTime(card, false, &cardSecond)) return;
    state_.lastAdjustSlot = slot;
    const int64_t latch = static_cast<int64_t>(
        (static_cast<uint64_t>(card.latchCounterHigh) << 32) | card.latchCounterLow);
    discipline_->Update(cardSecond, kTimeSetBias, latch);
}

void MonitorDialog::OnAdjustClicked() {
    if (controls_.IsChecked(kAdjustBox)) {
        state_.lastAdjustSlot = -1;  // a step at the next refresh
    } else if (discipline_) {
        discipline_->StopAdjustment();
    }
    controls_.SetFocus(kDefaultButton);
}

}  // namespace qxr::monitor
