// The scenario control request IOCTL_QXR_SIM_CONTROL served on a card model. Plain code, so
// that the simulator driver and the in-process simulated device answer it alike and a native
// test can drive it. Freestanding, like the model.
#pragma once

#include <stdint.h>

#include "card_simulator/card_model.h"

namespace qxr::simdriver {

// Applies the QxrSimControl in `in` (none when inSize is 0) all-or-nothing, then, when the
// caller offers room, writes the resulting QxrSimState to `out`. `requestCount` is what the
// caller counted of card requests. Returns a Win32 error number: 87 for a malformed or
// out-of-range control record, 122 for a reply buffer too small for the state; nothing is
// changed on failure. `in` and `out` may be the same buffer (METHOD_BUFFERED).
uint32_t HandleSimControl(card::CardModel& model, uint32_t requestCount, const void* in,
                          uint32_t inSize, void* out, uint32_t outSize, uint32_t* bytesReturned);

}  // namespace qxr::simdriver
