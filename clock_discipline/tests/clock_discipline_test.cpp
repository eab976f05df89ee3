#include "clock_discipline/clock_discipline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "clock_discipline/tests/engine_test_machine.h"
#include "platform/system_time.h"

namespace qxr::discipline {
namespace {

using testing::EngineTestMachine;
using testing::TraceCapture;

constexpr DWORD kIncrement = 156250;  // 0x2625A
constexpr int64_t kSecond = 10000000;

sim::SimClockConfig WithIncrement(DWORD increment) {
    sim::SimClockConfig config;
    config.timeIncrement = increment;
    return config;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

int64_t FileTimeOf(WORD year, WORD month, WORD day) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = 12;
    int64_t value = 0;
    EXPECT_TRUE(SystemTimeFieldsToFileTime(st, &value));
    return value;
}

// ---- Slew limits --------------------------------------------------------------------------

struct LimitCase {
    DWORD increment;
    int32_t rampSeconds;
    int32_t percent;
    int64_t rampSteps;
    int64_t upper;
    int64_t lower;
};

TEST(ClockDisciplineLimitsTest, WorkedExamples) {
    const LimitCase cases[] = {
        {156250, 10, 100, 640, 100000000, -50000000},
        {100144, 10, 100, 998, 99943712, -49971856},
        {156250, 60, 10, 3840, 60000000, -54545455},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.increment << " " << c.rampSeconds << " s " << c.percent << " %");
        EngineTestMachine machine(WithIncrement(c.increment));
        ClockDiscipline engine(machine.Ports(), c.rampSeconds, c.percent);
        EXPECT_EQ(engine.RampSteps(), c.rampSteps);
        EXPECT_EQ(engine.UpperLimit(), c.upper);
        EXPECT_EQ(engine.LowerLimit(), c.lower);
        for (int i = 0; i < ClockDiscipline::kAveragingLength; ++i) {
            ASSERT_EQ(engine.AveragingEntry(i), c.increment) << "entry " << i;
        }
    }
}

// Each limit is slewed when met exactly and set in one step one unit beyond.
TEST(ClockDisciplineLimitsTest, OffsetAtLimitSlewsAndOneUnitBeyondSetsInOneStep) {
    struct Case {
        int64_t offset;
        bool slews;
        DWORD adjustment;  // when slewed
    };
    const Case cases[] = {
        {100000000, true, 312500},  // twice the nominal rate
        {100000001, false, 0},
        {-50000000, true, 78125},  // half the nominal rate
        {-50000001, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        TraceCapture trace;
        const int64_t cardTime = machine.CardTimeAhead(c.offset);
        engine.Update(cardTime, 0, 0);
        EXPECT_TRUE(engine.IsAdjusting());
        if (c.slews) {
            EXPECT_EQ(machine.clock.SetSystemTimeCount(), 0);
            EXPECT_EQ(machine.clock.CurrentAdjustment(), c.adjustment);
            EXPECT_TRUE(trace.Contains("Time being adjusted gradually"));
        } else {
            EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
            EXPECT_EQ(machine.clock.SystemTime(), cardTime / 10000 * 10000);  // whole ms
            EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
            EXPECT_TRUE(trace.Contains("Time was set in one step"));
        }
    }
}

// ---- Slewing: the applied value and the averaging buffer -----------------------------------

TEST(ClockDisciplineSlewTest, AdjustmentEqualToIncrementIsNudgedTowardTheAverage) {
    EngineTestMachine machine;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    TraceCapture trace;

    // Average equal to the increment and no offset: one above the increment is applied, the
    // increment itself is remembered.
    engine.Update(machine.CardTimeAhead(0), 0, 0);
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement + 1);
    EXPECT_EQ(engine.AveragingEntry(0), kIncrement);
    EXPECT_TRUE(trace.Contains("Adding 0x2625A to averaging buffer"));

    // Teach the buffer a slightly slow rate, so that the next average lies below the
    // increment; an offset that lifts the adjustment back onto the increment is then applied
    // one below it.
    engine.Update(machine.CardTimeAhead(-640), 0, 0);  // adjustment increment - 1
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
    trace.lines.clear();
    engine.Update(machine.CardTimeAhead(640), 0, 0);  // average increment - 1, plus 1
    EXPECT_TRUE(trace.Contains("Base adjust=0x2625A, average=0x26259"));
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
    EXPECT_EQ(engine.AveragingEntry(0), kIncrement);
    EXPECT_EQ(engine.AveragingEntry(1), kIncrement - 1);
}

TEST(ClockDisciplineSlewTest, QuotientTruncatesTowardZero) {
    EngineTestMachine machine;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    engine.Update(machine.CardTimeAhead(-1279), 0, 0);  // -1.998 ticks of 640 -> -1
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
    EXPECT_EQ(engine.AveragingEntry(0), kIncrement - 1);

    EngineTestMachine other;
    ClockDiscipline second(other.Ports(), 10, 100);
    second.Update(other.CardTimeAhead(200000), 0, 0);  // 312.5 -> 312
    EXPECT_EQ(other.clock.CurrentAdjustment(), kIncrement + 312);
}

// Only an adjustment computed while |offset| x 1000 is below the ramp enters the buffer.
TEST(ClockDisciplineSlewTest, BufferReceivesTheAdjustmentOnlyForSmallOffsets) {
    struct Case {
        int64_t offset;
        bool remembered;
    };
    const Case cases[] = {{99999, true}, {100000, false}, {-99999, true}, {-100000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        TraceCapture trace;
        engine.Update(machine.CardTimeAhead(c.offset), 0, 0);
        const DWORD adjustment = static_cast<DWORD>(kIncrement + c.offset / 640);
        EXPECT_EQ(machine.clock.CurrentAdjustment(), adjustment);
        EXPECT_EQ(engine.AveragingEntry(0), c.remembered ? adjustment : kIncrement);
        EXPECT_EQ(trace.lines.size(), c.remembered ? 3u : 2u);
        EXPECT_EQ(trace.lines[0], "Time being adjusted gradually");
        EXPECT_EQ(trace.lines[1], "Base adjust=0x2625A, average=0x2625A");
        if (c.remembered) {
            EXPECT_EQ(trace.lines[2], "Adding 0x" + Hex(adjustment) + " to averaging buffer");
        }
        EXPECT_EQ(engine.AveragingEntry(1), kIncrement);
    }
}

// The average covers exactly the 32 entries standing before the call, truncated.
TEST(ClockDisciplineSlewTest, AverageSpansTheThirtyTwoPreviousEntries) {
    EngineTestMachine machine;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    TraceCapture trace;
    engine.Update(machine.CardTimeAhead(-640), 0, 0);  // remembers increment - 1
    ASSERT_EQ(engine.AveragingEntry(0), kIncrement - 1);

    // Large offsets push the increment; the slow entry moves one place older each time.
    const int64_t large = 200000;
    for (int call = 1; call <= 31; ++call) {
        trace.lines.clear();
        engine.Update(machine.CardTimeAhead(large), 0, 0);
        // (31 x increment + increment - 1) / 32 truncates to increment - 1.
        ASSERT_TRUE(trace.Contains("Base adjust=0x2625A, average=0x26259")) << "call " << call;
        ASSERT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1 + 312) << "call " << call;
        ASSERT_EQ(engine.AveragingEntry(call), kIncrement - 1);
    }
    // Entry 31 still holds it for this call; afterwards it has dropped out.
    trace.lines.clear();
    engine.Update(machine.CardTimeAhead(large), 0, 0);
    EXPECT_TRUE(trace.Contains("Base adjust=0x2625A, average=0x26259"));
    trace.lines.clear();
    engine.Update(machine.CardTimeAhead(large), 0, 0);
    EXPECT_TRUE(trace.Contains("Base adjust=0x2625A, average=0x2625A"));
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement + 312);
}

TEST(ClockDisciplineSlewTest, OneStepSetAndRejectedDatePushTheIncrement) {
    EngineTestMachine machine;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    engine.Update(machine.CardTimeAhead(-640), 0, 0);
    ASSERT_EQ(engine.AveragingEntry(0), kIncrement - 1);
    engine.Update(machine.CardTimeAhead(20 * kSecond), 0, 0);  // set in one step
    EXPECT_EQ(engine.AveragingEntry(0), kIncrement);
    EXPECT_EQ(engine.AveragingEntry(1), kIncrement - 1);
    engine.Update(FileTimeOf(2001, 5, 5), 0, 0);  // rejected
    EXPECT_EQ(engine.AveragingEntry(0), kIncrement);
    EXPECT_EQ(engine.AveragingEntry(2), kIncrement - 1);
}

// ---- The result --------------------------------------------------------------------------

TEST(ClockDisciplineResultTest, SystemMinusCardInMillisecondsTruncatedTowardZero) {
    struct Case {
        int64_t offset;
        int32_t result;
    };
    const Case cases[] = {{12345678, -1234}, {-12345678, 1234},     {-5, 0}, {5, 0}, {9999, 0},
                          {-10000, 1},       {30 * kSecond, -30000}};
    for (const Case& c : cases) {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        EXPECT_EQ(engine.Update(machine.CardTimeAhead(c.offset), 0, 0), c.result) << c.offset;
    }
}

// Offsets beyond the 32-bit millisecond range (a dead CMOS battery) stop at its ends with
// the right sign, while the clock itself is set to the card time.
TEST(ClockDisciplineResultTest, OffsetsBeyondThirtyTwoBitsAreHeldAtTheLimits) {
    constexpr int64_t kDay = 86400 * kSecond;
    const int64_t ahead[] = {25 * kDay, 30 * kDay, 8401 * kDay};  // the last: 23 years
    for (const int64_t cardAhead : ahead) {
        for (const int sign : {1, -1}) {
            SCOPED_TRACE(::testing::Message() << sign * cardAhead / kDay << " days");
            EngineTestMachine machine;
            ClockDiscipline engine(machine.Ports(), 10, 100);
            const int64_t cardTime = machine.CardTimeAhead(sign * cardAhead);
            EXPECT_EQ(engine.Update(cardTime, 0, 0), sign > 0
                                                         ? std::numeric_limits<int32_t>::min()
                                                         : std::numeric_limits<int32_t>::max());
            EXPECT_EQ(machine.clock.SystemTime(), cardTime);
        }
    }
    EngineTestMachine machine;  // just inside the range: unchanged
    ClockDiscipline engine(machine.Ports(), 10, 100);
    EXPECT_EQ(engine.Update(machine.CardTimeAhead(-21474836470000LL), 0, 0), 2147483647);
}

TEST(ClockDisciplineResultTest, ImplausibleDatesLeaveTheClockAloneAndReturnZero) {
    struct Case {
        int64_t cardTime;
        const char* dateLine;
    };
    const Case cases[] = {
        {FileTimeOf(2001, 12, 31), "Date = 12/31/2001"},
        {FileTimeOf(2100, 1, 1), "Date = 01/01/2100"},
        {-1, "Date = 00/00/0000"},  // outside the calendar
        {std::numeric_limits<int64_t>::max(), "Date = 00/00/0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dateLine);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        engine.Update(machine.CardTimeAhead(1000), 0, 0);  // a slew in progress
        ASSERT_TRUE(engine.IsAdjusting());
        const int64_t before = machine.clock.SystemTime();
        TraceCapture trace;
        EXPECT_EQ(engine.Update(c.cardTime, 0, 0), 0);
        EXPECT_EQ(machine.clock.SystemTime(), before);
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 0);
        // The slew was stopped before the date was looked at.
        EXPECT_FALSE(engine.IsAdjusting());
        EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement);
        ASSERT_EQ(trace.lines.size(), 2u);
        EXPECT_EQ(trace.lines[0], c.dateLine);
        EXPECT_EQ(trace.lines[1], "Bogus date - Time not changed");
    }
}

TEST(ClockDisciplineResultTest, FirstAndLastPlausibleYearsAreSet) {
    for (const int64_t cardTime : {FileTimeOf(2002, 1, 1), FileTimeOf(2099, 12, 31)}) {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        engine.Update(cardTime, 0, 0);
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
        EXPECT_EQ(machine.clock.SystemTime(), cardTime);
    }
}

// ---- Bias and the age of the card reading ------------------------------------------------

TEST(ClockDisciplineCorrectionTest, BiasShiftsTheSlewTargetButNotTheTimeThatIsSet) {
    {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        // Card equal to the system clock: D = -15,000 -> 1 ms reported, -23 per tick.
        EXPECT_EQ(engine.Update(machine.CardTimeAhead(0), 15, 0), 1);
        EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 23);
    }
    {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        const int64_t cardTime = machine.CardTimeAhead(20 * kSecond);
        EXPECT_EQ(engine.Update(cardTime, 15, 0), -19998);  // (20 s - 1.5 ms) in ms
        EXPECT_EQ(machine.clock.SystemTime(), cardTime);
    }
}

TEST(ClockDisciplineCorrectionTest, ExtremeBiasesAreFormedWithoutOverflow) {
    const int32_t biases[] = {std::numeric_limits<int32_t>::max(),
                              std::numeric_limits<int32_t>::min(), 2147484, -2147484};
    for (const int32_t bias : biases) {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 100);
        const int64_t cardTime = machine.CardTimeAhead(0);
        // D = -bias x 1000, far beyond both limits: reported, then the card time is set.
        EXPECT_EQ(engine.Update(cardTime, bias, 0), static_cast<int32_t>(int64_t{bias} / 10))
            << bias;
        EXPECT_EQ(machine.clock.SystemTime(), cardTime);
    }
}

TEST(ClockDisciplineCorrectionTest, LatchAgeIsAddedWhenACounterValueIsGiven) {
    sim::SimClockConfig config;
    config.counterFrequency = 10000000;  // one count per 100 ns keeps the figures exact
    EngineTestMachine machine(config);
    ClockDiscipline engine(machine.Ports(), 10, 100);
    LARGE_INTEGER now{};
    machine.clock.QueryPerformanceCounter(&now);

    // Latched 6 s ago with the card 6 s behind the system clock now: no offset at all.
    const int64_t age = 6 * kSecond;
    EXPECT_EQ(engine.Update(machine.CardTimeAhead(-age), 0, now.QuadPart - age), 0);
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement + 1);  // the tie-break of D = 0

    // Without a latch value the same reading is 6 s off (beyond the -5 s limit) and is set in
    // one step to the card time as it is, with no correction.
    const int64_t cardTime = machine.CardTimeAhead(-age);
    EXPECT_EQ(engine.Update(cardTime, 0, 0), 6000);
    EXPECT_EQ(machine.clock.SystemTime(), cardTime);
}

TEST(ClockDisciplineCorrectionTest, LatchAgeRoundsCountsToNearestUnitAndIsSetWithTheTime) {
    EngineTestMachine machine;  // 3,579,545 counts per second
    ClockDiscipline engine(machine.Ports(), 10, 100);
    LARGE_INTEGER now{};
    machine.clock.QueryPerformanceCounter(&now);
    // 357,954 counts = 999,998.6 units, rounded up to 999,999.
    const int64_t cardTime = machine.CardTimeAhead(-60 * kSecond);
    EXPECT_EQ(engine.Update(cardTime, 0, now.QuadPart - 357954), 59900);  // 59,900.0001 ms
    EXPECT_EQ(machine.clock.SystemTime(), (cardTime + 999999) / 10000 * 10000);
}

// ---- Availability: take-over, other engines, failures, platforms -------------------------

TEST(ClockDisciplineAvailabilityTest, TakesOverTheSystemsOwnAdjustmentOnce) {
    EngineTestMachine machine;
    ASSERT_TRUE(machine.clock.AdjustmentDisabled());
    TraceCapture trace;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    EXPECT_FALSE(machine.clock.AdjustmentDisabled());
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement);
    EXPECT_FALSE(engine.IsAdjusting());
    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0], "GetSysTimeAdjust isValid=TRUE, p1=0x2625A, p2=0x2625A, p3=FALSE");
    EXPECT_FALSE(machine.process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));  // restored

    // The system's own adjustment switched on again later is not taken over a second time.
    machine.process.SetPrivilegeEnabled(SE_SYSTEMTIME_NAME, true);
    machine.clock.SetSystemTimeAdjustment(0, TRUE);
    machine.process.SetPrivilegeEnabled(SE_SYSTEMTIME_NAME, false);
    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    EXPECT_TRUE(machine.clock.AdjustmentDisabled());
}

TEST(ClockDisciplineAvailabilityTest, WithoutThePrivilegeTheTakeOverFailsAndOnlyStepsRemain) {
    EngineTestMachine machine;
    machine.process.SetPrivilegeHeld(SE_SYSTEMTIME_NAME, false);
    TraceCapture trace;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    EXPECT_EQ(trace.lines.at(0), "GetSysTimeAdjust isValid=TRUE, p1=0x2625A, p2=0x2625A, p3=TRUE");
    EXPECT_EQ(engine.RampSteps(), 0);
    EXPECT_TRUE(machine.clock.AdjustmentDisabled());

    // With the privilege granted later the engine still only steps (the limits stay unset).
    machine.process.SetPrivilegeHeld(SE_SYSTEMTIME_NAME, true);
    const int64_t cardTime = machine.CardTimeAhead(1000);
    engine.Update(cardTime, 0, 0);
    EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
    EXPECT_TRUE(machine.clock.AdjustmentDisabled());
    EXPECT_FALSE(engine.IsAdjusting());
}

TEST(ClockDisciplineAvailabilityTest, FailingQueryMakesItUnavailableUntilAQuerySucceeds) {
    EngineTestMachine machine;
    machine.clock.FailAdjustmentQueries(1);
    TraceCapture trace;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    EXPECT_EQ(trace.lines.at(0), "GetSysTimeAdjust isValid=FALSE, p1=0x0, p2=0x0, p3=FALSE");
    EXPECT_EQ(engine.RampSteps(), 0);
    const int64_t before = machine.clock.SystemTime();
    machine.clock.FailAdjustmentQueries(1);
    EXPECT_EQ(engine.Update(machine.CardTimeAhead(5 * kSecond), 0, 0), 0);
    EXPECT_EQ(machine.clock.SystemTime(), before);
    EXPECT_TRUE(machine.clock.AdjustmentDisabled());

    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    EXPECT_EQ(engine.RampSteps(), 640);
    EXPECT_FALSE(machine.clock.AdjustmentDisabled());
}

TEST(ClockDisciplineAvailabilityTest, FailingSecondQueryAfterTakeOverIsUnavailable) {
    EngineTestMachine machine;
    // Only the query that follows the take-over's write fails.
    struct FailSecond : platform::SystemClock {
        explicit FailSecond(sim::SimClock& c) : clock(c) {}
        void GetSystemTimeAsFileTime(FILETIME* now) override { clock.GetSystemTimeAsFileTime(now); }
        void GetSystemTime(SYSTEMTIME* now) override { clock.GetSystemTime(now); }
        BOOL SetSystemTime(const SYSTEMTIME* t) override { return clock.SetSystemTime(t); }
        BOOL GetSystemTimeAdjustment(DWORD* a, DWORD* i, BOOL* d) override {
            if (++queries == 2) return FALSE;
            return clock.GetSystemTimeAdjustment(a, i, d);
        }
        BOOL SetSystemTimeAdjustment(DWORD a, BOOL d) override {
            return clock.SetSystemTimeAdjustment(a, d);
        }
        sim::SimClock& clock;
        int queries = 0;
    } failing(machine.clock);
    DisciplinePorts ports = machine.Ports();
    DisciplinePorts wrapped{failing, ports.counter, ports.scheduling, ports.privileges,
                            ports.version};
    ClockDiscipline engine(wrapped, 10, 100);
    EXPECT_EQ(failing.queries, 2);
    EXPECT_FALSE(machine.clock.AdjustmentDisabled());  // the nominal rate was written
    EXPECT_TRUE(engine.IsAdjustmentAvailable());       // next check: ours, and no second take-over
    EXPECT_EQ(failing.queries, 3);
    EXPECT_EQ(engine.RampSteps(), 640);
}

// Whether another program steers the clock is judged by the first query only: a value that
// turns up in the query after the take-over's write does not make the engine step back.
TEST(ClockDisciplineAvailabilityTest, DifferenceIsJudgedByTheQueryBeforeTheTakeOver) {
    EngineTestMachine machine;
    struct OtherWriterAfterTakeOver : platform::SystemClock {
        explicit OtherWriterAfterTakeOver(sim::SimClock& c) : clock(c) {}
        void GetSystemTimeAsFileTime(FILETIME* now) override { clock.GetSystemTimeAsFileTime(now); }
        void GetSystemTime(SYSTEMTIME* now) override { clock.GetSystemTime(now); }
        BOOL SetSystemTime(const SYSTEMTIME* t) override { return clock.SetSystemTime(t); }
        BOOL GetSystemTimeAdjustment(DWORD* a, DWORD* i, BOOL* d) override {
            const BOOL ok = clock.GetSystemTimeAdjustment(a, i, d);
            if (++queries == 2) *a = kIncrement + 7;  // another program wrote just after us
            return ok;
        }
        BOOL SetSystemTimeAdjustment(DWORD a, BOOL d) override {
            return clock.SetSystemTimeAdjustment(a, d);
        }
        sim::SimClock& clock;
        int queries = 0;
    } racing(machine.clock);
    DisciplinePorts ports = machine.Ports();
    DisciplinePorts wrapped{racing, ports.counter, ports.scheduling, ports.privileges,
                            ports.version};
    TraceCapture trace;
    ClockDiscipline engine(wrapped, 10, 100);
    EXPECT_EQ(racing.queries, 2);
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0], "GetSysTimeAdjust isValid=TRUE, p1=0x26261, p2=0x2625A, p3=FALSE");
    EXPECT_EQ(engine.RampSteps(), 640);
    EXPECT_EQ(engine.UpperLimit(), 100000000);

    // The next check sees the other value in its first query and stays out.
    trace.lines.clear();
    machine.process.SetPrivilegeEnabled(SE_SYSTEMTIME_NAME, true);
    machine.clock.SetSystemTimeAdjustment(kIncrement + 7, FALSE);
    machine.process.SetPrivilegeEnabled(SE_SYSTEMTIME_NAME, false);
    EXPECT_FALSE(engine.IsAdjustmentAvailable());
    EXPECT_EQ(trace.lines.at(0), "GetSysTimeAdjust isValid=TRUE, p1=0x26261, p2=0x2625A, p3=FALSE");
}

TEST(ClockDisciplineAvailabilityTest, SecondEngineStaysOutWhileTheFirstHoldsTheClock) {
    EngineTestMachine machine;
    ClockDiscipline first(machine.Ports(), 10, 100);
    first.Update(machine.CardTimeAhead(50000), 0, 0);  // slewing
    const DWORD held = machine.clock.CurrentAdjustment();
    ASSERT_NE(held, kIncrement);

    TraceCapture trace;
    auto second = std::make_unique<ClockDiscipline>(machine.Ports(), 10, 100);
    EXPECT_FALSE(second->IsAdjustmentAvailable());
    EXPECT_EQ(trace.lines.at(0), "GetSysTimeAdjust isValid=TRUE, p1=0x262A8, p2=0x2625A, p3=FALSE");
    EXPECT_EQ(second->Update(machine.CardTimeAhead(3 * kSecond), 0, 0), 0);
    EXPECT_EQ(machine.clock.CurrentAdjustment(), held);
    EXPECT_EQ(machine.clock.SetSystemTimeCount(), 0);

    first.StopAdjustment();
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement);
    EXPECT_TRUE(second->IsAdjustmentAvailable());
    EXPECT_EQ(second->RampSteps(), 640);
    EXPECT_EQ(second->UpperLimit(), 100000000);

    // Now the first one stays out, and the second one's end releases the clock for it.
    second->Update(machine.CardTimeAhead(2000), 0, 0);
    EXPECT_FALSE(first.IsAdjustmentAvailable());
    second.reset();
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement);
    EXPECT_TRUE(first.IsAdjustmentAvailable());
}

// The learned rate belongs to the time before another program steered the clock: coming
// back, the engine starts again from the nominal rate.
TEST(ClockDisciplineAvailabilityTest, AveragingBufferIsRefilledWhenTheClockComesBack) {
    EngineTestMachine machine;
    ClockDiscipline first(machine.Ports(), 10, 100);
    first.Update(machine.CardTimeAhead(-640), 0, 0);
    ASSERT_EQ(first.AveragingEntry(0), kIncrement - 1);
    first.StopAdjustment();

    ClockDiscipline second(machine.Ports(), 10, 100);
    second.Update(machine.CardTimeAhead(2000), 0, 0);
    ASSERT_FALSE(first.IsAdjustmentAvailable());
    second.StopAdjustment();
    ASSERT_TRUE(first.IsAdjustmentAvailable());
    for (int i = 0; i < ClockDiscipline::kAveragingLength; ++i) {
        EXPECT_EQ(first.AveragingEntry(i), kIncrement) << "entry " << i;
    }
}

TEST(ClockDisciplineAvailabilityTest, OneStepSetKeepsTheClockMarkedAsTaken) {
    EngineTestMachine machine;
    ClockDiscipline first(machine.Ports(), 10, 100);
    first.Update(machine.CardTimeAhead(-30 * kSecond), 0, 0);
    EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
    ClockDiscipline second(machine.Ports(), 10, 100);
    EXPECT_FALSE(second.IsAdjustmentAvailable());
    first.StopAdjustment();
    EXPECT_TRUE(second.IsAdjustmentAvailable());
}

TEST(ClockDisciplineAvailabilityTest, DestructorPutsTheNominalRateBackOnlyIfItChangedIt) {
    EngineTestMachine machine;
    {
        ClockDiscipline engine(machine.Ports(), 10, 100);
        engine.Update(machine.CardTimeAhead(-40000), 0, 0);
        ASSERT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 62);
        {
            ClockDiscipline bystander(machine.Ports(), 10, 100);  // unavailable
        }
        EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 62);
    }
    EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement);
    EXPECT_FALSE(machine.clock.AdjustmentDisabled());
    EXPECT_FALSE(machine.process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    EXPECT_EQ(machine.process.OpenTokenCount(), 0);
}

TEST(ClockDisciplineAvailabilityTest, OutsideTheNtFamilyEveryUpdateSetsInOneStep) {
    EngineTestMachine machine;
    machine.process.SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    machine.clock.FailAdjustmentQueries(1);  // would make an NT engine unavailable
    ClockDiscipline engine(machine.Ports(), 10, 100);
    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    EXPECT_EQ(engine.RampSteps(), 0);

    for (const int64_t offset : {int64_t{0}, int64_t{5000}, 2 * kSecond}) {
        const int64_t cardTime = machine.CardTimeAhead(offset);
        engine.Update(cardTime, 0, 0);
        EXPECT_EQ(machine.clock.SystemTime(), cardTime / 10000 * 10000) << offset;
    }
    EXPECT_EQ(machine.clock.SetSystemTimeCount(), 3);
    EXPECT_TRUE(machine.clock.AdjustmentDisabled());  // the rate facility is never touched
    EXPECT_FALSE(engine.IsAdjusting());
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    EXPECT_FALSE(machine.clock.GetSystemTimeAdjustment(&adjustment, &increment, &disabled))
        << "the engine must not have asked";
}

TEST(ClockDisciplineAvailabilityTest, PriorityAndPrivilegeAreRestoredAfterEachUpdate) {
    EngineTestMachine machine;
    ClockDiscipline engine(machine.Ports(), 10, 100);
    bool privilegeDuringSet = false;
    DWORD classDuringSet = 0;
    machine.clock.SetPrivilegeCheck([&] {
        privilegeDuringSet = machine.process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME);
        classDuringSet = machine.process.PriorityClass();
        return privilegeDuringSet;
    });
    engine.Update(machine.CardTimeAhead(20 * kSecond), 0, 0);
    EXPECT_TRUE(privilegeDuringSet);
    EXPECT_EQ(classDuringSet, static_cast<DWORD>(REALTIME_PRIORITY_CLASS));
    EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
    EXPECT_EQ(machine.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(machine.process.ThreadPriority(), THREAD_PRIORITY_NORMAL);
    EXPECT_FALSE(machine.process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    EXPECT_EQ(machine.process.OpenTokenCount(), 0);
}

// The privilege is taken before the priority is raised, and given back after it is lowered;
// within the boost the thread is put back before the class.
TEST(ClockDisciplineAvailabilityTest, UpdateNestsThePriorityBoostInsideThePrivilegeGuard) {
    EngineTestMachine machine;
    struct Recorder : platform::ProcessScheduling, platform::TokenPrivileges {
        explicit Recorder(sim::SimProcess& p) : process(p) {}
        HANDLE GetCurrentProcess() override { return process.GetCurrentProcess(); }
        HANDLE GetCurrentThread() override { return process.GetCurrentThread(); }
        DWORD GetPriorityClass(HANDLE h) override { return process.GetPriorityClass(h); }
        BOOL SetPriorityClass(HANDLE h, DWORD c) override {
            calls.push_back("class " + std::to_string(c));
            return process.SetPriorityClass(h, c);
        }
        int GetThreadPriority(HANDLE h) override { return process.GetThreadPriority(h); }
        BOOL SetThreadPriority(HANDLE h, int t) override {
            calls.push_back("thread " + std::to_string(t));
            return process.SetThreadPriority(h, t);
        }
        BOOL OpenProcessToken(HANDLE h, DWORD a, HANDLE* t) override {
            calls.push_back("open token");
            return process.OpenProcessToken(h, a, t);
        }
        BOOL LookupPrivilegeValueA(LPCSTR s, LPCSTR n, LUID* l) override {
            return process.LookupPrivilegeValueA(s, n, l);
        }
        BOOL AdjustTokenPrivileges(HANDLE t, BOOL d, TOKEN_PRIVILEGES* n, DWORD b,
                                   TOKEN_PRIVILEGES* p, DWORD* r) override {
            calls.push_back(p != nullptr ? "enable" : "restore privilege");
            return process.AdjustTokenPrivileges(t, d, n, b, p, r);
        }
        BOOL CloseHandle(HANDLE t) override {
            calls.push_back("close token");
            return process.CloseHandle(t);
        }
        sim::SimProcess& process;
        std::vector<std::string> calls;
    } recorder(machine.process);
    // The thread starts below LOWEST, so that the real-time boost raises it too.
    machine.process.SetThreadPriorityValue(THREAD_PRIORITY_IDLE);
    DisciplinePorts ports = machine.Ports();
    ClockDiscipline engine(
        DisciplinePorts{ports.clock, ports.counter, recorder, recorder, ports.version}, 10, 100);
    recorder.calls.clear();
    engine.Update(machine.CardTimeAhead(20 * kSecond), 0, 0);  // one step: no inner guard runs
    const std::vector<std::string> expected = {"open token",        "enable",     "class 256",
                                               "thread -2",         "thread -15", "class 32",
                                               "restore privilege", "close token"};
    EXPECT_EQ(recorder.calls, expected);
    EXPECT_EQ(machine.process.ThreadPriority(), THREAD_PRIORITY_IDLE);
    EXPECT_EQ(machine.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
}

// ---- Parameters and inputs at the ends of their ranges -----------------------------------

// The largest per-tick value the system holds is slewed; one unit of rate more is set in one
// step rather than applied wrapped.
TEST(ClockDisciplineParametersTest, SlewOnlyWhileThePerTickValueFitsThirtyTwoBits) {
    const int64_t fits = (int64_t{0xFFFFFFFF} - kIncrement) * 640 + 639;
    for (const int64_t offset : {fits, fits + 1}) {
        SCOPED_TRACE(offset);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, std::numeric_limits<int32_t>::max());
        ASSERT_GE(engine.UpperLimit(), fits + 1);
        engine.Update(machine.CardTimeAhead(offset), 0, 0);
        if (offset == fits) {
            EXPECT_EQ(machine.clock.SetSystemTimeCount(), 0);
            EXPECT_EQ(machine.clock.CurrentAdjustment(), 0xFFFFFFFFu);
        } else {
            EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
            EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
        }
    }
}

// MaxAdjustPct 0: both limits are 0, so only an offset of exactly 0 is slewed (at the nominal
// rate, nudged off the marker); one unit either way is set in one step.
TEST(ClockDisciplineParametersTest, ZeroPercentSlewsOnlyAnOffsetOfExactlyZero) {
    for (const int64_t offset : {int64_t{0}, int64_t{1}, int64_t{-1}}) {
        SCOPED_TRACE(offset);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, 0);
        EXPECT_EQ(engine.UpperLimit(), 0);
        EXPECT_EQ(engine.LowerLimit(), 0);
        engine.Update(machine.CardTimeAhead(offset), 0, 0);
        EXPECT_TRUE(engine.IsAdjusting());
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), offset == 0 ? 0 : 1);
        EXPECT_EQ(machine.clock.CurrentAdjustment(), offset == 0 ? kIncrement + 1 : kIncrement - 1);
    }
}

// The simulated clock, but reporting a per-tick increment (and adjustment) of 0; a rate set
// only changes what it reports as disabled.
class ZeroIncrementClock : public platform::SystemClock {
  public:
    explicit ZeroIncrementClock(platform::SystemClock& clock) : clock_(clock) {}
    void GetSystemTimeAsFileTime(FILETIME* now) override { clock_.GetSystemTimeAsFileTime(now); }
    void GetSystemTime(SYSTEMTIME* now) override { clock_.GetSystemTime(now); }
    BOOL SetSystemTime(const SYSTEMTIME* time) override { return clock_.SetSystemTime(time); }
    BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) override {
        *adjustment = *increment = 0;
        *disabled = disabled_;
        return TRUE;
    }
    BOOL SetSystemTimeAdjustment(DWORD, BOOL disabled) override {
        disabled_ = disabled;
        return TRUE;
    }

  private:
    platform::SystemClock& clock_;
    BOOL disabled_ = TRUE;
};

// A system that reports an increment of 0 gives no ramp and no limits: every correction,
// however small, is a set in one step.
TEST(ClockDisciplineParametersTest, AnIncrementOfZeroOnlySetsInOneStep) {
    EngineTestMachine machine;
    ZeroIncrementClock clock(machine.clock);
    const DisciplinePorts ports = machine.Ports();
    ClockDiscipline engine(
        DisciplinePorts{clock, ports.counter, ports.scheduling, ports.privileges, ports.version},
        10, 100);
    EXPECT_TRUE(engine.IsAdjustmentAvailable());
    EXPECT_EQ(engine.RampSteps(), 0);
    EXPECT_EQ(engine.UpperLimit(), 0);
    EXPECT_EQ(engine.LowerLimit(), 0);
    int steps = 0;
    for (const int64_t offset : {int64_t{0}, int64_t{10000}, int64_t{-10000}}) {
        SCOPED_TRACE(offset);
        engine.Update(machine.CardTimeAhead(offset), 0, 0);
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), ++steps);
        EXPECT_FALSE(engine.IsAdjusting());
    }
}

TEST(ClockDisciplineParametersTest, NegativePercentagesNeverSlew) {
    // -50 % keeps its formula's (crossed) limits; -100 % and below, which divided by zero or
    // by a negative number, now give a lower limit of 0 over a negative upper one.
    struct Case {
        int32_t percent;
        int64_t upper;
        int64_t lower;
    };
    const Case cases[] = {{-50, -50000000, 100000000},
                          {-99, -99000000, 9900000000},
                          {-100, -100000000, 0},
                          {-101, -101000000, 0},
                          {std::numeric_limits<int32_t>::min(), -2147483648000000LL, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, c.percent);
        EXPECT_EQ(engine.UpperLimit(), c.upper);
        EXPECT_EQ(engine.LowerLimit(), c.lower);
        const int64_t cardTime = machine.CardTimeAhead(0);
        engine.Update(cardTime, 0, 0);
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
    }
}

TEST(ClockDisciplineParametersTest, HugePercentagesAndRampsStayInRange) {
    {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), 10, std::numeric_limits<int32_t>::max());
        EXPECT_EQ(engine.UpperLimit(), 2147483647000000LL);
        // 10^8 x 2,147,483,647 / 2,147,483,747 = 99,999,995.34
        EXPECT_EQ(engine.LowerLimit(), -99999995);
        // Within the limits, but 2.1 x 10^14 per 640 ticks is no 32-bit rate: set in one step.
        const int64_t cardTime = machine.CardTimeAhead(2147483647000000LL);
        EXPECT_EQ(engine.Update(cardTime, 0, 0), std::numeric_limits<int32_t>::min());
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
        EXPECT_EQ(machine.clock.SystemTime(), cardTime);
        EXPECT_EQ(machine.clock.CurrentAdjustment(), kIncrement - 1);
    }
    {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), std::numeric_limits<int32_t>::max(),
                               std::numeric_limits<int32_t>::max());
        EXPECT_EQ(engine.RampSteps(), 2147483647LL * kSecond / kIncrement);
        EXPECT_EQ(engine.UpperLimit(), std::numeric_limits<int64_t>::max());
        EXPECT_LT(engine.LowerLimit(), 0);
        engine.Update(std::numeric_limits<int64_t>::max(), std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int64_t>::min());
        EXPECT_TRUE(engine.IsAdjusting());
        // Far below the lower limit: the slew is stopped and the 1601 date rejected.
        EXPECT_EQ(engine.Update(0, std::numeric_limits<int32_t>::max(), 1), 0);
        EXPECT_FALSE(engine.IsAdjusting());
    }
}

TEST(ClockDisciplineParametersTest, RampOfZeroOrLessOnlyStepsAndExtremeInputsAreSafe) {
    for (const int32_t ramp : {0, -5, std::numeric_limits<int32_t>::min()}) {
        EngineTestMachine machine;
        ClockDiscipline engine(machine.Ports(), ramp, 100);
        EXPECT_LE(engine.RampSteps(), 0) << ramp;
        engine.Update(machine.CardTimeAhead(0), 0, 0);
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1) << ramp;
        EXPECT_FALSE(engine.IsAdjusting());  // nothing to mark without a ramp
        const int64_t extremes[] = {std::numeric_limits<int64_t>::min(),
                                    std::numeric_limits<int64_t>::max(), -1, 1};
        for (const int64_t a : extremes) {
            for (const int64_t b : extremes) {
                EXPECT_EQ(engine.Update(a, 0, b), 0) << a << " " << b;  // all implausible
            }
        }
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 1);
    }
}

}  // namespace
}  // namespace qxr::discipline
