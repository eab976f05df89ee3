#include "card_simulator/tools/sim_state_text.h"

#include <cinttypes>
#include <cstdio>

namespace qxr::simctl {

namespace {

const char* ReferenceName(uint32_t bits) {
    switch (bits) {
        case 1:
            return "gps";
        case 2:
            return "clock";
        default:
            return "none";
    }
}

// 100-ns units as milliseconds with four decimals, exactly.
std::string Milliseconds(int64_t hundredNs) {
    const uint64_t magnitude =
        hundredNs < 0 ? 0 - static_cast<uint64_t>(hundredNs) : static_cast<uint64_t>(hundredNs);
    char text[40];
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%04" PRIu64, hundredNs < 0 ? "-" : "",
                  magnitude / 10000, magnitude % 10000);
    return text;
}

}  // namespace

std::string FormatSimState(const QxrSimState& s) {
    // The driver terminates the text; a damaged reply must still not be read past its end.
    std::string signature(s.signature, sizeof s.signature);
    signature.resize(signature.find('\0') == std::string::npos ? signature.size()
                                                               : signature.find('\0'));
    const std::string fail = s.failWith == 0 ? "off" : std::to_string(s.failWith);
    char lines[512];
    std::snprintf(lines, sizeof lines,
                  "signature=%s\n"
                  "bus=%" PRIu32
                  "\n"
                  "port=0x%" PRIX32
                  "\n"
                  "irq=%" PRIu32
                  "\n"
                  "reference=%" PRIu32
                  " (%s)\n"
                  "gps=%s\n"
                  "offset_ms=%s\n"
                  "tick=%s\n"
                  "fail=%s\n"
                  "nodata=%s\n"
                  "requests=%" PRIu32
                  "\n"
                  "settimes=%" PRIu32 "\n",
                  signature.c_str(), s.busType, s.ioPort, s.irq, s.reference,
                  ReferenceName(s.reference), s.gpsFitted != 0 ? "on" : "off",
                  Milliseconds(s.offset).c_str(), s.tickFrozen != 0 ? "freeze" : "run",
                  fail.c_str(), s.noData != 0 ? "on" : "off", s.requestCount, s.setTimeCount);
    return lines;
}

}  // namespace qxr::simctl
