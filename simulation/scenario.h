// What a simulation run looks like: the machine, the card, the service's parameters and the
// things that happen to the card on the way (GPS lost and back, and so on).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxr::simulation {

// A change of the card's state at a virtual time after the start.
struct CardChange {
    double atS;
    int reference;  // raw reference bits: 1 GPS, 2 on-board clock, 0 none; -1 = unchanged
    int gpsFitted;  // 1 / 0; -1 = unchanged
    // The card's time minus true UTC from then on, in seconds (a receiver that gets its GPS
    // week era wrong shows -1024 weeks); unchanged unless setsCardOffset.
    bool setsCardOffset = false;
    double cardOffsetS = 0;
};

// The service's seven registry parameters; unset ones are not written, so the service's own
// defaults apply.
struct ServiceParameters {
    struct Value {
        bool set = false;
        int32_t value = 0;
    };
    Value logThreshold, msgThreshold, logSecsNoGps, msgSecsNoGps, maxAdjustPct, rampDuration,
        timeSetBias;
};

struct Scenario {
    std::string name;
    std::string description;
    double durationS = 6 * 3600.0;
    double driftPpm = 50;          // system clock's rate error, + = runs fast
    double initialOffsetS = 2;     // system clock minus card at the start
    uint32_t tickLength = 156250;  // 100-ns units per clock interrupt
    double uptimeS = 3600;         // time since boot at the start (tick counter)
    int startReference = 1;        // GPS
    bool gpsFitted = true;
    std::vector<CardChange> changes;
    double popupOpenS = 60;  // how long a user takes to close a pop-up
    uint32_t seed = 1;
    double latchJitterUs = 0;  // random delay of the driver's latch, 0..this
    // Rate error of the card's on-board oscillator while it is off GPS (+ = fast). A
    // temperature-compensated crystal, as such cards carry: 0.5 ppm, 1.8 ms per hour.
    double holdoverDriftPpm = 0.5;
    // The PC crystal's rate wanders by about this much per hour (a random walk seeded with
    // `seed`, driving the clock interrupt and the performance counter); 0 = a steady rate.
    double wanderPpmPerHour = 0;
    ServiceParameters parameters;
};

// The named scenarios; the first is the default.
const std::vector<Scenario>& NamedScenarios();
const Scenario* FindScenario(const std::string& name);

}  // namespace qxr::simulation
