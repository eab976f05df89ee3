#include "sync_service/ntp_server/reading_handover.h"

namespace qxr::ntp {

void ReadingHandover::Queue::Push(const CardReading& reading) {
    if (count == kTimeCapacity) {
        first = (first + 1) % kTimeCapacity;
        --count;
    }
    items[(first + count) % kTimeCapacity] = reading;
    ++count;
}

void ReadingHandover::Hand(const CardReading& reading) {
    if (reading.kind == CardReading::kStatus) {
        pending_.status = reading;
        pending_.statusNew = true;
    } else {
        pending_.times.Push(reading);
    }
    if (!lock_.TryLock()) return;  // the server is taking: pass these on next time
    for (int i = 0; i < pending_.times.count; ++i) shared_.times.Push(pending_.times.At(i));
    if (pending_.statusNew) {
        shared_.status = pending_.status;
        shared_.statusNew = true;
    }
    lock_.Unlock();
    pending_.times.Clear();
    pending_.statusNew = false;
}

}  // namespace qxr::ntp
