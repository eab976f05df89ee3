// The command line of qxrsimctl, turned into one scenario control record. Plain code.
#pragma once

#include <string>
#include <vector>

#include "card_simulator/sim_control.h"

namespace qxr::simctl {

struct SimCommand {
    bool help = false;        // print the usage text and do nothing else
    QxrSimControl control{};  // the changes to send; apply == 0 only reports the state
};

// Parses the arguments after the program name. Returns false with a one-line reason in
// *error for anything it does not understand; an empty argument list is an error too.
bool ParseSimCommand(const std::vector<std::string>& args, SimCommand* command, std::string* error);

// The usage text, ending with a line feed.
const char* SimUsage();

}  // namespace qxr::simctl
