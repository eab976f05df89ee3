#include "simulation/scenario.h"

namespace qxr::simulation {

namespace {

constexpr double kGpsWeekEraS = 1024 * 7 * 86400.0;

std::vector<Scenario> MakeScenarios() {
    std::vector<Scenario> all;

    Scenario drift;
    drift.name = "drift";
    drift.description = "PC clock 2 s ahead and running 50 ppm fast, GPS card, 6 hours";
    all.push_back(drift);

    Scenario outage;
    outage.name = "gps-outage";
    outage.description =
        "GPS lost after 1 h for 30 min (card on its on-board clock), then back; 3 hours";
    outage.durationS = 3 * 3600.0;
    outage.changes = {{3600, 2, -1}, {5400, 1, -1}};
    all.push_back(outage);

    Scenario noGps;
    noGps.name = "no-gps";
    noGps.description = "card without GPS, running on its on-board clock; 2 hours";
    noGps.durationS = 2 * 3600.0;
    noGps.startReference = 2;
    noGps.gpsFitted = false;
    all.push_back(noGps);

    Scenario none;
    none.name = "no-reference";
    none.description = "card with GPS fitted but no valid time reference; 1 hour";
    none.durationS = 3600.0;
    none.startReference = 0;
    all.push_back(none);

    Scenario large;
    large.name = "large-offset";
    large.description = "PC clock 1 hour behind: set in one step, then slewed; 2 hours";
    large.durationS = 2 * 3600.0;
    large.initialOffsetS = -3600;
    all.push_back(large);

    Scenario wrap;
    wrap.name = "tick-wrap";
    wrap.description =
        "machine up 49.7 days minus 10 minutes: the tick counter wraps during the run; 1 hour";
    wrap.durationS = 3600.0;
    wrap.uptimeS = 4294967.296 - 600;
    all.push_back(wrap);

    Scenario era;
    era.name = "gps-week-era";
    era.description =
        "the card's date jumps back 1024 weeks (GPS week number era) after 1 h and is right "
        "again after 2 h: the clock is not set from it; 3 hours";
    era.durationS = 3 * 3600.0;
    era.changes = {{3600, -1, -1, true, -kGpsWeekEraS}, {7200, -1, -1, true, 0}};
    all.push_back(era);

    Scenario longRun;
    longRun.name = "fifty-days";
    longRun.description = "50 days of service from boot, crossing the tick counter's wrap";
    longRun.durationS = 50 * 86400.0;
    longRun.uptimeS = 60;
    all.push_back(longRun);

    return all;
}

}  // namespace

const std::vector<Scenario>& NamedScenarios() {
    static const std::vector<Scenario> all = MakeScenarios();
    return all;
}

const Scenario* FindScenario(const std::string& name) {
    for (const Scenario& s : NamedScenarios()) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

}  // namespace qxr::simulation
