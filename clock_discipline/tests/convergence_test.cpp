// Closes the loop: a drifting simulated clock, an exact card read the way its driver latches
// it, and one update per ramp period (10 s, 100 %, no bias). Measures how many updates it
// takes until the system clock is within one clock tick of the card, and what it holds from
// then on. Two views of the offset are sampled ten times a second:
//  - as read: the system time a program reads (that of the last interrupt) minus the card's;
//    this is what the engine itself measures;
//  - at the interrupts: the system time just after an interrupt minus true time, the clock's
//    own error without the read's staircase.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <sstream>

#include "clock_discipline/clock_discipline.h"
#include "clock_discipline/tests/engine_test_machine.h"

namespace qxr::discipline {
namespace {

using testing::EngineTestMachine;

constexpr int64_t kSecond = 10000000;
constexpr int64_t kRamp = 10 * kSecond;
constexpr int kUpdates = 360;  // one hour
constexpr int kSamplesPerRamp = 100;

int64_t Magnitude(int64_t v) {
    return v < 0 ? -v : v;
}

struct LoopResult {
    int updatesToOneTick = 0;  // updates until the next ramp's samples are all within a tick
    int64_t worstRead = 0;     // largest |offset as read| from then on, 100-ns units
    int64_t worstAtTick = 0;   // largest |offset at an interrupt| from then on
    int rampsOverOneTick = 0;  // ramps from then on with a read sample beyond one tick
};

LoopResult RunLoop(DWORD increment, int64_t driftPpb, int64_t startOffset) {
    sim::SimClockConfig config;
    config.timeIncrement = increment;
    config.driftPpb = driftPpb;
    config.initialOffset = startOffset;
    EngineTestMachine machine(config);
    ClockDiscipline engine(machine.Ports(), 10, 100);
    const auto advanceTo = [&](int64_t when) {
        machine.clock.Advance(when - machine.clock.TrueTime());
    };

    // Per ramp i: the largest offsets sampled after update i + 1 and before the next one.
    int64_t worstRead[kUpdates] = {};
    int64_t worstAtTick[kUpdates] = {};
    const int64_t first = machine.clock.TrueTime() + 3 * kSecond / 10;  // off the second
    for (int i = 0; i < kUpdates; ++i) {
        const int64_t updateAt = first + i * kRamp;
        advanceTo(updateAt);
        // The card latches at the top of each second; its driver notes the counter then.
        const int64_t cardSecond = machine.clock.TrueTime() / kSecond * kSecond;
        engine.Update(cardSecond, 0, machine.clock.CounterAt(cardSecond));
        for (int k = 0; k < kSamplesPerRamp; ++k) {
            advanceTo(updateAt + k * (kRamp / kSamplesPerRamp));
            const int64_t read = machine.clock.SystemTime() - machine.clock.TrueTime();
            if (Magnitude(read) > worstRead[i]) worstRead[i] = Magnitude(read);
            machine.clock.AdvanceToNextInterrupt();
            const int64_t atTick = machine.clock.SystemTime() - machine.clock.TrueTime();
            if (Magnitude(atTick) > worstAtTick[i]) worstAtTick[i] = Magnitude(atTick);
        }
    }

    LoopResult result;
    int reached = 0;
    while (reached < kUpdates && worstRead[reached] > increment) ++reached;
    result.updatesToOneTick = reached + 1;
    for (int i = reached; i < kUpdates; ++i) {
        if (worstRead[i] > result.worstRead) result.worstRead = worstRead[i];
        if (worstAtTick[i] > result.worstAtTick) result.worstAtTick = worstAtTick[i];
        if (worstRead[i] > increment) ++result.rampsOverOneTick;
    }
    return result;
}

struct Case {
    DWORD increment;
    int64_t driftPpb;
    int64_t startOffset;
};

class ConvergenceTest : public ::testing::TestWithParam<Case> {};

// Measured (one hour, 360 updates): the first update slews the 2 s away over its ramp; from
// the second (third in one case at 100,144) the clock stays within about a tick. As read it
// then stays within 1.012 ticks at 156,250 (up to 30 of 359 ramps overshoot the tick, by at
// most 0.19 ms) and within 0.904 tick at 100,144; at the interrupts within 1.063 and 1.053
// ticks. The bounds below hold those figures with a margin.
TEST_P(ConvergenceTest, SettlesWithinAboutOneTickAndStaysThere) {
    const Case c = GetParam();
    const LoopResult r = RunLoop(c.increment, c.driftPpb, c.startOffset);
    const int64_t tick = c.increment;
    std::ostringstream summary;
    summary << "increment " << c.increment << ", drift " << c.driftPpb / 1000 << " ppm, start "
            << c.startOffset / kSecond << " s: within one tick after " << r.updatesToOneTick
            << " update(s); from then on worst as read " << r.worstRead / 10 << " us ("
            << r.worstRead * 1000 / tick << "/1000 tick), at interrupts " << r.worstAtTick / 10
            << " us (" << r.worstAtTick * 1000 / tick << "/1000 tick), " << r.rampsOverOneTick
            << " of " << kUpdates - r.updatesToOneTick + 1 << " ramps beyond one tick as read";
    std::cout << "[convergence] " << summary.str() << std::endl;
    RecordProperty("updatesToOneTick", r.updatesToOneTick);
    RecordProperty("worstReadUs", static_cast<int>(r.worstRead / 10));
    RecordProperty("worstAtInterruptUs", static_cast<int>(r.worstAtTick / 10));

    EXPECT_LE(r.updatesToOneTick, 3) << summary.str();
    EXPECT_LE(r.worstRead * 100, tick * 105) << summary.str();
    EXPECT_LE(r.worstAtTick * 100, tick * 115) << summary.str();
    EXPECT_LE(r.rampsOverOneTick * 100, kUpdates * 15) << summary.str();
}

INSTANTIATE_TEST_SUITE_P(
    DriftAndStartOffset, ConvergenceTest,
    ::testing::Values(Case{156250, 100000, 2 * kSecond}, Case{156250, 100000, -2 * kSecond},
                      Case{156250, -100000, 2 * kSecond}, Case{156250, -100000, -2 * kSecond},
                      Case{100144, 100000, 2 * kSecond}, Case{100144, 100000, -2 * kSecond},
                      Case{100144, -100000, 2 * kSecond}, Case{100144, -100000, -2 * kSecond}));

}  // namespace
}  // namespace qxr::discipline
