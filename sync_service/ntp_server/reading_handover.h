// Hands the loop's card readings to the NTP server's thread without ever making the loop
// wait: the loop keeps its readings privately and passes them on whenever the shared side is
// free (try-lock); the server takes what has arrived at every wake-up and before it answers.
// The status is a latest value (only the card's present reference matters); time readings
// have a queue of their own, which only a server that has not taken anything for
// kTimeCapacity correction intervals (over 20 minutes at the default RampDuration) can
// overflow; the oldest readings then give way, and the fit uses only its newest 64 anyway.
#pragma once

#include "sync_service/ntp_server/card_reading.h"
#include "sync_service/service_lock.h"

namespace qxr::ntp {

class ReadingHandover {
  public:
    static constexpr int kTimeCapacity = 128;

    // Loop side. Never blocks.
    void Hand(const CardReading& reading);
    // Server side: applies every time reading that has arrived to `apply`, in order, then the
    // newest status if one has arrived.
    template <typename Apply>
    void Take(Apply apply) {
        int count = 0;
        bool statusTaken = false;
        {
            sync::LockGuard guard(lock_);
            count = shared_.times.count;
            for (int i = 0; i < count; ++i) taken_[i] = shared_.times.At(i);
            shared_.times.Clear();
            statusTaken = shared_.statusNew;
            if (statusTaken) takenStatus_ = shared_.status;
            shared_.statusNew = false;
        }
        for (int i = 0; i < count; ++i) apply(taken_[i]);
        if (statusTaken) apply(takenStatus_);
    }

  private:
    struct Queue {
        CardReading items[kTimeCapacity];
        int first = 0;
        int count = 0;
        const CardReading& At(int i) const { return items[(first + i) % kTimeCapacity]; }
        void Push(const CardReading& reading);
        void Clear() { first = count = 0; }
    };
    struct Side {
        Queue times;
        CardReading status;
        bool statusNew = false;
    };
    Side pending_;  // the loop's own
    sync::ServiceLock lock_;
    Side shared_;
    // The server's own copies, taken out under the lock and applied after it.
    CardReading taken_[kTimeCapacity];
    CardReading takenStatus_;
};

}  // namespace qxr::ntp
