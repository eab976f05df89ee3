#include "card_simulator/tools/sim_command_line.h"

#include <cstdint>

namespace qxr::simctl {

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int kFractionDigits = 4;  // 100 ns is a ten-thousandth of a millisecond

bool ParseOnOff(const std::string& word, const char* on, const char* off, uint32_t* value) {
    if (word == on) {
        *value = 1;
        return true;
    }
    if (word == off) {
        *value = 0;
        return true;
    }
    return false;
}

// Decimal digits only, at most `limit`.
bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > limit) return false;
    }
    *value = v;
    return true;
}

// "[-+]digits[.digits]" milliseconds, to 100-ns units within the driver's limit.
bool ParseMilliseconds(const std::string& text, int64_t* hundredNs) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t dot = text.find('.', pos);
    const std::string whole = text.substr(pos, dot == std::string::npos ? dot : dot - pos);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (dot != std::string::npos && fraction.empty()) return false;
    if (fraction.size() > kFractionDigits) return false;
    fraction.append(kFractionDigits - fraction.size(), '0');

    const uint64_t maxMs = static_cast<uint64_t>(QXR_SIM_MAX_OFFSET / kTicksPerMillisecond);
    uint64_t ms = 0;
    uint64_t part = 0;
    if (!ParseUnsigned(whole, maxMs, &ms) || !ParseUnsigned(fraction, 9999, &part)) return false;
    const uint64_t ticks = ms * kTicksPerMillisecond + part;
    if (ticks > static_cast<uint64_t>(QXR_SIM_MAX_OFFSET)) return false;
    *hundredNs = negative ? -static_cast<int64_t>(ticks) : static_cast<int64_t>(ticks);
    return true;
}

bool ParseReference(const std::string& word, uint32_t* bits) {
    if (word == "none") {
        *bits = 0;
    } else if (word == "gps") {
        *bits = 1;
    } else if (word == "clock") {
        *bits = 2;
    } else {
        uint64_t v = 0;
        if (!ParseUnsigned(word, 7, &v)) return false;
        *bits = static_cast<uint32_t>(v);
    }
    return true;
}

bool ParseFail(const std::string& word, uint32_t* error) {
    if (word == "off") {
        *error = 0;
        return true;
    }
    uint64_t v = 0;
    if (!ParseUnsigned(word, 0xFFFF, &v) || v == 0) return false;
    *error = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

const char* SimUsage() {
    return "Usage: qxrsimctl COMMAND [COMMAND ...]\n"
           "Steers the simulated QXR card of the driver qxrsimdrv.sys (device \\\\.\\QXR),\n"
           "then prints the card's state.\n"
           "Commands:\n"
           "  status                       only print the state\n"
           "  reset                        back to the state of a freshly started driver\n"
           "  reference gps|clock|none|N   active time reference (status bits 0..2, N 0..7)\n"
           "  gps on|off                   card fitted with GPS\n"
           "  offset MS                    card clock minus system clock, milliseconds\n"
           "                               (-1.5, 250, ...; at most 4 decimals)\n"
           "  tick run|freeze              the once-per-second tick toggle\n"
           "  fail ERROR|off               fail every card request with Win32 error ERROR\n"
           "  nodata on|off                complete every card request with no data\n"
           "Exit status: 0 done, 1 bad argument, 2 driver not loaded, 3 request failed.\n";
}

bool ParseSimCommand(const std::vector<std::string>& args, SimCommand* command,
                     std::string* error) {
    *command = SimCommand{};
    command->control.size = sizeof(QxrSimControl);
    if (args.empty()) {
        *error = "no command given";
        return false;
    }
    QxrSimControl& c = command->control;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "-h" || name == "--help" || name == "help" || name == "/?") {
            command->help = true;
            continue;
        }
        if (name == "status") continue;
        if (name == "reset") {
            c.apply |= QXR_SIM_RESET;
            continue;
        }
        const bool known = name == "reference" || name == "gps" || name == "offset" ||
                           name == "tick" || name == "fail" || name == "nodata";
        if (!known) {
            *error = "unknown command '" + name + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = "'" + name + "' needs a value";
            return false;
        }
        const std::string& value = args[++i];
        bool ok = false;
        if (name == "reference") {
            ok = ParseReference(value, &c.reference);
            c.apply |= QXR_SIM_SET_REFERENCE;
        } else if (name == "gps") {
            ok = ParseOnOff(value, "on", "off", &c.gpsFitted);
            c.apply |= QXR_SIM_SET_GPS_FITTED;
        } else if (name == "offset") {
            ok = ParseMilliseconds(value, &c.offset);
            c.apply |= QXR_SIM_SET_OFFSET;
        } else if (name == "tick") {
            ok = ParseOnOff(value, "freeze", "run", &c.tickFrozen);
            c.apply |= QXR_SIM_SET_TICK_FROZEN;
        } else if (name == "fail") {
            ok = ParseFail(value, &c.failWith);
            c.apply |= QXR_SIM_SET_FAIL_WITH;
        } else {
            ok = ParseOnOff(value, "on", "off", &c.noData);
            c.apply |= QXR_SIM_SET_NO_DATA;
        }
        if (!ok) {
            *error = "bad value '" + value + "' for '" + name + "'";
            return false;
        }
    }
    return true;
}

}  // namespace qxr::simctl
