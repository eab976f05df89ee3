#include "sync_service/ntp_server/reading_handover.h"

namespace qxr::ntp {

void ReadingHandover::Queue::Push(const CardReading& reading) {
    if (count == kCapacity) {
        first = (first + 1) % kCapacity;
        --count;
    }
    items[(first + count) % kCapacity] = reading;
    ++count;
}

void ReadingHandover::Hand(const CardReading& reading) {
    pending_.Push(reading);
    if (!lock_.TryLock()) return;  // the server is taking: pass these on next time
    for (int i = 0; i < pending_.count; ++i) shared_.Push(pending_.At(i));
    lock_.Unlock();
    pending_.count = 0;
    pending_.first = 0;
}

}  // namespace qxr::ntp
