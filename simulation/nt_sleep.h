// The service's Sleep as NT gives it: a sleeping thread wakes at a clock interrupt, so
// Sleep(500) lasts until the first interrupt at or after 500 ms, up to a tick longer, and it
// runs again a little after (other threads, the pass's own work: here 0 to 2 ms). The loop's
// passes so walk against the card's seconds, as they do on a real machine, instead of meeting
// each second at the same instant for the whole run.
#pragma once

#include <cstdint>
#include <random>

#include "platform/ports/system_clock.h"
#include "platform/sim/sim_clock.h"

namespace qxr::simulation {

class NtSleep : public platform::TickCounter {
  public:
    NtSleep(sim::SimClock& clock, uint32_t seed) : clock_(clock), random_(seed) {}
    DWORD GetTickCount() override { return clock_.GetTickCount(); }
    void Sleep(DWORD milliseconds) override {
        const int64_t now = clock_.TrueTime();
        const int64_t wake = clock_.InterruptAtOrAfter(now + int64_t{milliseconds} * 10000);
        clock_.Advance(wake + std::uniform_int_distribution<int64_t>(0, 20000)(random_) - now);
    }

  private:
    sim::SimClock& clock_;
    std::mt19937 random_;
};

}  // namespace qxr::simulation
