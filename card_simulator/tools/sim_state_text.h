// The simulated card's state as qxrsimctl prints it: one "name=value" line per field, easy
// for people and test scripts alike. Plain code.
#pragma once

#include <string>

#include "card_simulator/sim_control.h"

namespace qxr::simctl {

std::string FormatSimState(const QxrSimState& state);

}  // namespace qxr::simctl
