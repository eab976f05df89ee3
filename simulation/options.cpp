#include "simulation/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

namespace qxr::simulation {

namespace {

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

bool ParseInt32(const std::string& text, int32_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

struct NumberOption {
    const char* name;
    double min;
    double max;
    std::function<void(RunOptions*, double)> apply;
};

struct ParameterOption {
    const char* name;
    ServiceParameters::Value ServiceParameters::*field;
};

const NumberOption kNumberOptions[] = {
    {"--drift", -1000, 1000, [](RunOptions* o, double v) { o->scenario.driftPpm = v; }},
    {"--offset", -1e9, 1e9, [](RunOptions* o, double v) { o->scenario.initialOffsetS = v; }},
    {"--seed", 0, 4294967295.0,
     [](RunOptions* o, double v) { o->scenario.seed = static_cast<uint32_t>(v); }},
    {"--jitter", 0, 1e6, [](RunOptions* o, double v) { o->scenario.latchJitterUs = v; }},
    {"--popup-open", 0, 1e7, [](RunOptions* o, double v) { o->scenario.popupOpenS = v; }},
    {"--uptime", 0, 1e9, [](RunOptions* o, double v) { o->scenario.uptimeS = v; }},
    {"--lock-bound", 0, 1e9, [](RunOptions* o, double v) { o->lockBoundMs = v; }},
    {"--ntp-clients", 0, 1000,
     [](RunOptions* o, double v) { o->ntpClients = static_cast<int>(v); }},
    {"--holdover-drift", -1000, 1000,
     [](RunOptions* o, double v) { o->scenario.holdoverDriftPpm = v; }},
    {"--ntp-poll", 16, 1024, [](RunOptions* o, double v) { o->ntpPollS = v; }},
    {"--wander", 0, 100, [](RunOptions* o, double v) { o->scenario.wanderPpmPerHour = v; }},
};

const ParameterOption kParameterOptions[] = {
    {"--LogThreshold", &ServiceParameters::logThreshold},
    {"--MsgThreshold", &ServiceParameters::msgThreshold},
    {"--LogSecsNoGPS", &ServiceParameters::logSecsNoGps},
    {"--MsgSecsNoGPS", &ServiceParameters::msgSecsNoGps},
    {"--MaxAdjustPct", &ServiceParameters::maxAdjustPct},
    {"--RampDuration", &ServiceParameters::rampDuration},
    {"--TimeSetBias", &ServiceParameters::timeSetBias},
};

bool TakesValue(const std::string& arg) {
    for (const char* name :
         {"--duration", "--sample-every", "--plot", "--tick", "--tracking-log", "--plot-log"}) {
        if (arg == name) return true;
    }
    for (const NumberOption& o : kNumberOptions) {
        if (arg == o.name) return true;
    }
    for (const ParameterOption& p : kParameterOptions) {
        if (arg == p.name) return true;
    }
    return false;
}

}  // namespace

bool ParseDuration(const std::string& text, double* seconds) {
    if (text.empty()) return false;
    double unit = 1;
    std::string number = text;
    switch (text.back()) {
        case 's':
            unit = 1;
            number.pop_back();
            break;
        case 'm':
            unit = 60;
            number.pop_back();
            break;
        case 'h':
            unit = 3600;
            number.pop_back();
            break;
        case 'd':
            unit = 86400;
            number.pop_back();
            break;
        default:
            break;
    }
    double value = 0;
    if (!ParseNumber(number, &value) || value <= 0 || value * unit > 400 * 86400.0) return false;
    *seconds = value * unit;
    return true;
}

std::string UsageText() {
    std::string text =
        "usage: qxrsim [scenario] [options]\n"
        "       qxrsim --plot-log FILE.csv [--plot OUT.svg]\n"
        "Runs the QxrSync synchronizer (its real loop, clock discipline and card library) on a\n"
        "simulated PC in virtual time and prints what the service does; or summarizes and plots\n"
        "the tracking log a real machine's QxrSync wrote.\n\n"
        "scenarios (default: drift):\n";
    for (const Scenario& s : NamedScenarios()) text += "  " + s.name + "  " + s.description + "\n";
    text +=
        "\noptions:\n"
        "  --duration T       run length: 90s, 30m, 6h, 50d\n"
        "  --drift PPM        PC clock rate error in ppm (+ = fast), -1000..1000\n"
        "  --tick N           clock tick length in 100-ns units: 156250 or 100144\n"
        "  --offset S         PC clock minus card at the start, in seconds\n"
        "  --uptime S         seconds since boot at the start (the tick counter)\n"
        "  --seed N           seed for the latch jitter and the crystal's wander\n"
        "  --jitter US        random delay of the card driver's latch, 0..US microseconds\n"
        "  --popup-open S     seconds the user takes to close a pop-up\n"
        "  --holdover-drift PPM\n"
        "                     rate error of the card's on-board clock while GPS is lost\n"
        "                     (+ = fast), -1000..1000; default 0.5, a temperature-compensated\n"
        "                     crystal as such cards carry (1.8 ms per hour of outage)\n"
        "  --lock-bound MS    lock bound in ms (default: two clock ticks)\n"
        "  --ntp-clients N    switch the service's NTP server on and let N clients poll it;\n"
        "                     the summary gives served time minus true UTC and the replies\n"
        "                     off it by more than their own root dispersion (the loop then\n"
        "                     sleeps as on NT: until a clock interrupt)\n"
        "  --ntp-poll S       seconds between one client's requests, 16..1024 (default 16)\n"
        "  --wander PPM       the PC crystal's rate walks randomly by about PPM per hour,\n"
        "                     0..100, driving the clock and the performance counter\n"
        "                     (default 0: a steady rate)\n"
        "  --sample-every T   one sample line per T of virtual time (0 = none; default 10m)\n"
        "  --corrections      one line per correction\n"
        "  --plot FILE.svg    write a plot of the offset with the events\n"
        "  --tracking-log FILE.csv\n"
        "                     write the service's tracking log of the run (as QxrSync does\n"
        "                     with its \"TrackingLog\" registry value)\n"
        "  --plot-log FILE.csv\n"
        "                     read a tracking log, print its summary and, with --plot, plot it\n"
        "  --LogThreshold N --MsgThreshold N --LogSecsNoGPS N --MsgSecsNoGPS N\n"
        "  --MaxAdjustPct N --RampDuration N --TimeSetBias N\n"
        "                     the service's registry parameters\n"
        "  --list             list the scenarios\n"
        "  --help             this text\n";
    return text;
}

bool ParseOptions(int argc, const char* const* argv, RunOptions* options, std::string* error) {
    options->scenario = NamedScenarios().front();
    int first = 1;
    if (argc > 1 && argv[1][0] != '-') {
        const Scenario* s = FindScenario(argv[1]);
        if (s == nullptr) {
            *error = std::string("unknown scenario \"") + argv[1] + "\" (--list shows them)";
            return false;
        }
        options->scenario = *s;
        first = 2;
    }
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        if (arg == "--list") {
            options->list = true;
            continue;
        }
        if (arg == "--corrections") {
            options->printCorrections = true;
            continue;
        }
        if (!TakesValue(arg)) {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        }
        if (i + 1 >= argc) {
            *error = "option " + arg + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--duration" || arg == "--sample-every") {
            double seconds = 0;
            const bool zeroOk = arg == "--sample-every" && value == "0";
            if (!zeroOk && !ParseDuration(value, &seconds)) {
                *error = "bad " + arg + " \"" + value + "\" (use e.g. 90s, 30m, 6h, 50d)";
                return false;
            }
            (arg == "--duration" ? options->scenario.durationS : options->sampleEveryS) = seconds;
            continue;
        }
        if (arg == "--plot" || arg == "--tracking-log" || arg == "--plot-log") {
            if (value.empty()) {
                *error = "option " + arg + " needs a file name";
                return false;
            }
            (arg == "--plot"           ? options->plotPath
             : arg == "--tracking-log" ? options->trackingLogPath
                                       : options->plotLogPath) = value;
            continue;
        }
        if (arg == "--tick") {
            int32_t tick = 0;
            if (!ParseInt32(value, &tick) || (tick != 156250 && tick != 100144)) {
                *error = "bad --tick \"" + value + "\" (156250 or 100144)";
                return false;
            }
            options->scenario.tickLength = static_cast<uint32_t>(tick);
            continue;
        }
        for (const NumberOption& o : kNumberOptions) {
            if (arg != o.name) continue;
            double v = 0;
            if (!ParseNumber(value, &v) || v < o.min || v > o.max) {
                *error = "bad " + arg + " \"" + value + "\"";
                return false;
            }
            o.apply(options, v);
        }
        for (const ParameterOption& p : kParameterOptions) {
            if (arg != p.name) continue;
            int32_t v = 0;
            if (!ParseInt32(value, &v)) {
                *error = "bad " + arg + " \"" + value + "\" (a 32-bit signed integer)";
                return false;
            }
            (options->scenario.parameters.*p.field) = {true, v};
        }
    }
    if (!options->plotLogPath.empty() && (first == 2 || !options->trackingLogPath.empty())) {
        *error = "--plot-log reads a machine's log; it runs no scenario";
        return false;
    }
    return true;
}

}  // namespace qxr::simulation
