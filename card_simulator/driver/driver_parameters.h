// The driver's three REG_DWORD parameters under its service key: "Quoxar Product",
// "I/O Port" and "Interrupt (IRQ)". Kernel-mode only.
#pragma once

#include <ddk/wdm.h>

#include "card_simulator/card_model.h"

namespace qxr::simdriver {

// Reads <registryPath>\Parameters into *settings. A missing key or value, or a value whose
// data is not 4 bytes long, leaves that field as it was (the built-in default).
void ReadDriverParameters(PCUNICODE_STRING registryPath, card::CardSettings* settings);

}  // namespace qxr::simdriver
