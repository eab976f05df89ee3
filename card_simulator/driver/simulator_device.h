// The one simulated card the driver serves, shared by the entry point and the dispatch
// routines. Kernel-mode only.
#pragma once

#include <ddk/wdm.h>

#include "card_simulator/card_model.h"

namespace qxr::simdriver {

struct SimulatorDevice {
    card::CardModel card;
    // Requests from several processes may be dispatched on several threads at once.
    KSPIN_LOCK lock;
    uint32_t requestCount;
};

// Constant-initialised: a driver has no run-time static initialisation.
extern SimulatorDevice g_simulator;

}  // namespace qxr::simdriver
