// Hands the loop's card readings to the NTP server's thread without ever making the loop
// wait: the loop queues each reading privately and passes its queue on whenever the shared
// one is free (try-lock); the server takes what has arrived before it answers. The loop
// passes a few readings a second, so neither queue fills in practice; if one does, the
// oldest readings give way, which only thins out the fit.
#pragma once

#include "sync_service/ntp_server/card_reading.h"
#include "sync_service/service_lock.h"

namespace qxr::ntp {

class ReadingHandover {
  public:
    static constexpr int kCapacity = 32;

    // Loop side. Never blocks.
    void Hand(const CardReading& reading);
    // Server side: applies every reading that has arrived to `apply`, in order.
    template <typename Apply>
    void Take(Apply apply) {
        CardReading taken[kCapacity];
        int count = 0;
        {
            sync::LockGuard guard(lock_);
            count = shared_.count;
            for (int i = 0; i < count; ++i) taken[i] = shared_.At(i);
            shared_.first = 0;
            shared_.count = 0;
        }
        for (int i = 0; i < count; ++i) apply(taken[i]);
    }

  private:
    struct Queue {
        CardReading items[kCapacity];
        int first = 0;
        int count = 0;
        const CardReading& At(int i) const { return items[(first + i) % kCapacity]; }
        void Push(const CardReading& reading);
    };
    Queue pending_;  // the loop's own
    sync::ServiceLock lock_;
    Queue shared_;
};

}  // namespace qxr::ntp
