// qxrsim's command line.
#pragma once

#include <string>

#include "simulation/scenario.h"

namespace qxr::simulation {

struct RunOptions {
    Scenario scenario;
    std::string plotPath;         // empty = no plot
    std::string trackingLogPath;  // the service's tracking log of the run; empty = none
    std::string plotLogPath;      // plot this tracking log instead of running a scenario
    double sampleEveryS = 600;    // one sample line per this much virtual time; 0 = none
    bool printCorrections = false;
    double lockBoundMs = 0;  // 0 = two clock ticks
    int ntpClients = 0;      // simulated NTP clients of the service's NTP server; 0 = off
    double ntpPollS = 16;    // how often each of them polls
    bool list = false;
    bool help = false;
};

// False with a one-line reason in `error` for a bad command line.
bool ParseOptions(int argc, const char* const* argv, RunOptions* options, std::string* error);
std::string UsageText();

// "90", "90s", "30m", "6h", "50d" -> seconds. False when malformed or not positive.
bool ParseDuration(const std::string& text, double* seconds);

}  // namespace qxr::simulation
