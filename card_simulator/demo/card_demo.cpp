// Reads the simulated card through the card access library, as the client programs do, and
// prints its identity, then its time and status once per simulated second.
//   card_demo [seconds]   (default 5)
#include <cstdio>
#include <cstdlib>

#include "card_access/card_library.h"
#include "card_simulator/sim_card_device.h"
#include "platform/sim/sim_clock.h"

namespace {

const char* ReferenceName(TimeReference reference) {
    switch (reference) {
        case TimeReference::Gps:
            return "GPS";
        case TimeReference::OnBoardClock:
            return "on-board clock";
        default:
            return "none";
    }
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 5;
    if (argc > 1) {
        char* end = nullptr;
        seconds = std::strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || seconds < 1 || seconds > 3600) {
            std::fprintf(stderr, "usage: card_demo [seconds 1..3600]\n");
            return 2;
        }
    }

    qxr::sim::SimClock clock;
    qxr::sim::SimCardDevice device(clock, qxr::card::CardSettings{qxr::card::kBusIsa, 0x300, 5});
    // The card runs 250 ms ahead of true time, so the millisecond field shows something.
    device.Model().SetOffset(2500000);
    qxr::card_access::CardLibrary library(device);

    char signature[80];
    const int32_t n = library.GetHwSignature(signature, sizeof signature - 1);
    signature[n > 0 ? n : 0] = '\0';
    CardVersion driver{};
    CardVersion firmware{};
    uint32_t checksum = 0;
    const uint32_t e1 = library.GetDriverVersion(&driver);
    const uint32_t e2 = library.GetFwVersion(&firmware);
    const uint32_t e3 = library.GetFwChecksum(&checksum);
    if (n <= 0 || e1 != 0 || e2 != 0 || e3 != 0) {
        std::fprintf(stderr, "card not answering (errors %u %u %u)\n", e1, e2, e3);
        return 1;
    }
    std::printf("signature: %s\n", signature);
    std::printf("driver %d.%d.%d.%d, firmware %d.%d.%d.%d, checksum 0x%08X\n", driver.part1,
                driver.part2, driver.part3, driver.part4, firmware.part1, firmware.part2,
                firmware.part3, firmware.part4, checksum);

    LARGE_INTEGER frequency{};
    clock.QueryPerformanceFrequency(&frequency);
    for (long i = 0; i < seconds; ++i) {
        CardTime time{};
        CardStatus status{};
        const uint32_t st = library.GetHwStatus(&status);
        const uint32_t tt = library.GetTime(&time);
        if (st != 0 || tt != 0) {
            std::fprintf(stderr, "card request failed (%u, %u)\n", st, tt);
            return 1;
        }
        LARGE_INTEGER now{};
        clock.QueryPerformanceCounter(&now);
        const uint64_t latch =
            (static_cast<uint64_t>(time.latchCounterHigh) << 32) | time.latchCounterLow;
        const double age = static_cast<double>(now.QuadPart - static_cast<int64_t>(latch)) /
                           static_cast<double>(frequency.QuadPart);
        std::printf(
            "%04d-%02d-%02d %02d:%02d:%02d.%03d UTC  reference %-14s GPS %s  tick %d  "
            "second latched %.6f s ago\n",
            time.year, time.month, time.day, time.hour, time.minute, time.second, time.millisecond,
            ReferenceName(status.reference), status.gpsPresent ? "fitted" : "absent",
            status.tickToggle, age);
        clock.Advance(10000000);
    }
    return 0;
}
