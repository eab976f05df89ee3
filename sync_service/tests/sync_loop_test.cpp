// The synchronizer loop in virtual time on the simulated machine: reference changes and their
// delays, the GPS-off-line pop-up, corrections and their events, and the parameters.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "clock_discipline/discipline_trace.h"
#include "perf_counters/counter_record.h"
#include "platform/sim/sim_datagram_sockets.h"
#include "platform/sim/sim_shared_sections.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

using testing::kParametersKey;
using Event = testing::ServiceTestMachine::LoggedEvent;

constexpr int32_t kGps = static_cast<int32_t>(TimeReference::Gps);
constexpr int32_t kOnBoard = static_cast<int32_t>(TimeReference::OnBoardClock);
constexpr int32_t kNone = static_cast<int32_t>(TimeReference::None);

sim::SimClockConfig ClockWith(int64_t initialOffsetMs, uint64_t uptimeMs = 3600000) {
    sim::SimClockConfig config = testing::DefaultClockConfig();
    config.initialOffset = initialOffsetMs * 10000;
    config.uptimeMs = uptimeMs;
    return config;
}

class SyncLoopTest : public ::testing::Test {
  protected:
    explicit SyncLoopTest(const sim::SimClockConfig& config = testing::DefaultClockConfig())
        : m(config) {}

    void SetParameter(const char* name, DWORD value) {
        m.registry.SetDword(kParametersKey, name, value);
    }

    // Runs the service as the SCM would start it, until a stop at `stopMs`.
    void RunUntil(int64_t stopMs) {
        m.PrepareRun(stopMs);
        SyncService service(m.ports, m.card, m.console);
        ASSERT_TRUE(service.RunDispatcher());
        parameters = service.Parameters();
        EXPECT_FALSE(service.IsWarningShowing() && m.threads.PendingCount() == 0);
    }

    // The loop's own events (started and stopped left out).
    std::vector<Event> LoopEvents() const {
        std::vector<Event> out;
        for (const Event& e : m.Logged()) {
            if (e.id != 105 && e.id != 106) out.push_back(e);
        }
        return out;
    }
    std::vector<int64_t> PopupTimesMs() const {
        std::vector<int64_t> out;
        for (const sim::SimMessageBox& box : m.messageBoxes.Boxes())
            out.push_back(m.MsOf(box.shownAt));
        return out;
    }
    std::vector<int64_t> CorrectionTimesMs() const {
        std::vector<int64_t> out;
        for (int64_t t : m.card.timeCallsAt) out.push_back(m.MsOf(t));
        return out;
    }

    testing::ServiceTestMachine m;
    SyncParameters parameters;
};

void ExpectEvent(const Event& e, int64_t ms, DWORD id, WORD type, const std::string& text) {
    EXPECT_EQ(e.ms, ms) << text;
    EXPECT_EQ(e.id, id) << text;
    EXPECT_EQ(e.type, type) << text;
    EXPECT_EQ(e.text, text);
}

// --- Reference changes ----------------------------------------------------------------

// --- The performance counters' record -------------------------------------------------

class PublishedCountersTest : public SyncLoopTest {
  protected:
    // The system clock 3 s ahead of the card at the start.
    PublishedCountersTest() : SyncLoopTest(ClockWith(3000)) {}

    struct Seen {
        perf::ReadResult result;
        perf::CounterValues values;
        DWORD tick;
    };
    // What a reader finds at `ms` (before that time's pass).
    void ReadAt(int64_t ms) {
        m.At(ms, [this, ms] {
            Seen seen{perf::ReadResult::kMissing, {}, m.ports.ticks.GetTickCount()};
            const uint8_t* record = sections.Find(perf::kSectionBaseName);
            seen.result = perf::ReadRecord(record, record != nullptr ? perf::kSharedRecordSize : 0,
                                           &seen.values);
            seen_[ms] = seen;
        });
    }
    const Seen& At(int64_t ms) { return seen_.at(ms); }

    sim::SimSharedSections sections;
    std::map<int64_t, Seen> seen_;
};

// One run through every figure the loop publishes; the card's reference changes are seen
// within the pass (500 ms).
TEST_F(PublishedCountersTest, TheLoopPublishesWhatItSeesAndDid) {
    const int64_t checks[] = {5000, 20600, 30600, 45000, 62000, 75000, 95000};
    for (int64_t ms : checks) ReadAt(ms);
    m.At(20000, [this] { m.card.reference = kOnBoard; });
    m.At(30000, [this] { m.card.reference = kNone; });
    m.At(40000, [this] { m.card.timeError = ERROR_GEN_FAILURE; });
    m.At(60000, [this] {
        m.card.timeError = 0;
        m.card.reference = kGps;
        // From now on the card shows 20 s later than true time: a step.
        m.card.editTime = [](CardTime* t) { t->second = (t->second + 20) % 60; };
    });
    m.PrepareRun(100000);
    SyncService service(m.ports, m.card, m.console);
    service.PublishCountersWith(sections);
    ASSERT_TRUE(service.RunDispatcher());

    for (int64_t ms : checks) {
        SCOPED_TRACE(ms);
        EXPECT_EQ(At(ms).result, perf::ReadResult::kRead);
        EXPECT_EQ(At(ms).values.serviceRunning, 1u);
    }
    // GPS, then the on-board clock, then none, then GPS again.
    EXPECT_EQ(At(5000).values.referenceState, perf::kStateGps);
    EXPECT_EQ(At(20600).values.referenceState, perf::kStateOnBoardClock);
    EXPECT_EQ(At(30600).values.referenceState, perf::kStateNone);
    EXPECT_EQ(At(62000).values.referenceState, perf::kStateGps);
    // The first correction (at 0) slewed the 3 s away: system ahead by 3 s and the 1.5 ms bias.
    EXPECT_EQ(At(5000).values.offsetUs, 3001500u);
    EXPECT_EQ(At(5000).values.systemAhead, 1u);
    EXPECT_EQ(At(5000).values.corrections, 1u);
    EXPECT_EQ(At(5000).values.steps, 0u);
    // 300 ms per second slower: the 3 s over the 10 s ramp, in whole per-tick units.
    EXPECT_EQ(At(5000).values.rateFaster, 0u);
    EXPECT_NEAR(At(5000).values.rateCorrectionPpb, 300150000.0, 200000.0);
    // The last reading on GPS was the correction at 10 s.
    EXPECT_EQ((At(45000).tick - At(45000).values.gpsTick) / 1000, 35u);
    // Corrections at 40 s and 50 s could not read the card.
    EXPECT_EQ(At(45000).values.cardReadFailures, 1u);
    EXPECT_EQ(At(62000).values.cardReadFailures, 2u);
    // At 60 s the card 20 s ahead: stepped, the system clock behind.
    EXPECT_EQ(At(62000).values.steps, 1u);
    EXPECT_EQ(At(62000).values.systemAhead, 0u);
    EXPECT_NEAR(static_cast<double>(At(62000).values.offsetUs), 20000000.0, 3000.0);
    EXPECT_EQ(At(62000).values.corrections, At(45000).values.corrections + 1);
    EXPECT_EQ(At(62000).tick - At(62000).values.gpsTick, 2000u);
    EXPECT_EQ(At(95000).values.corrections, At(62000).values.corrections + 3);
    EXPECT_EQ(At(95000).values.steps, static_cast<uint64_t>(m.clock.SetSystemTimeCount()));
    // No NTP server, no tracking log: their figures stay 0.
    EXPECT_EQ(At(95000).values.ntpIncoming + At(95000).values.trackingLinesDropped, 0u);
    // Stopped: the section is gone, which a reader shows as a service that does not run.
    EXPECT_EQ(sections.Find(perf::kSectionBaseName), nullptr);
    EXPECT_EQ(sections.OpenCount(), 0);
}

// The NTP server's counts and what its last reply said, each pass.
TEST_F(PublishedCountersTest, NtpServerCounts) {
    sim::SimDatagramSockets network;
    SetParameter("NtpServer", 1);
    SetParameter("NtpRateLeak", 0);   // a burst of 8, nothing leaked beyond it
    SetParameter("RampDuration", 1);  // a card reading a second: the line is served from 8
    ReadAt(13000);
    ReadAt(16000);
    m.PrepareRun(20000);
    SyncService service(m.ports, m.card, m.console);
    service.ServeTimeWith(network, ntp::TimeServing::Mode::kCallerServes);
    service.PublishCountersWith(sections);
    m.At(12000, [&] {
        platform::SocketAddress client;
        client.address[0] = 10, client.address[3] = 7;
        client.port = 40000;
        std::vector<uint8_t> request(48, 0);
        request[0] = (4 << 3) | 3;
        for (int i = 0; i < 10; ++i) network.Deliver(client, 123, request);
        network.Deliver(client, 123, std::vector<uint8_t>(10, 0));
        service.ServeWaitingTimeRequests();
    });
    ASSERT_TRUE(service.RunDispatcher());
    EXPECT_EQ(At(13000).values.ntpIncoming, 11u);
    EXPECT_EQ(At(13000).values.ntpOutgoing, 8u);
    EXPECT_EQ(At(13000).values.ntpMalformed, 1u);
    EXPECT_EQ(At(13000).values.ntpLimited, 2u);
    EXPECT_EQ(At(13000).values.ntpRefused, 0u);
    // Synchronised on GPS; the dispersion is the card's 1 ms, the slope's error carried up
    // to a second past the newest reading (1 ms per span of the line) and 15 ppm of that.
    EXPECT_EQ(At(13000).values.ntpSynchronised, 1u);
    EXPECT_NEAR(At(13000).values.ntpRootDispersionUs, 1070.0, 80.0);
    // No request since: the counts stay.
    EXPECT_EQ(At(16000).values.ntpIncoming, 11u);
    EXPECT_EQ(At(16000).values.ntpOutgoing, 8u);
}

// A section that cannot be made leaves the service running as before, without counters.
TEST_F(PublishedCountersTest, NoSectionNoCounters) {
    sections.FailNextCreate(ERROR_ACCESS_DENIED);
    ReadAt(5000);
    m.PrepareRun(20000);
    SyncService service(m.ports, m.card, m.console);
    service.PublishCountersWith(sections);
    ASSERT_TRUE(service.RunDispatcher());
    EXPECT_EQ(At(5000).result, perf::ReadResult::kMissing);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 10000}));
}

TEST_F(SyncLoopTest, FirstPassSeesGps) {
    SetParameter("LogThreshold", 0);
    RunUntil(30000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    ExpectEvent(events[0], 0, 108, EVENTLOG_INFORMATION_TYPE,
                "Using GPS as the time reference.\r\n");
    EXPECT_TRUE(m.messageBoxes.Boxes().empty());
}

TEST_F(SyncLoopTest, OnBoardClockOnACardWithGps) {
    SetParameter("LogThreshold", 0);
    m.card.reference = kOnBoard;
    RunUntil(30000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    ExpectEvent(events[0], 10000, 108, EVENTLOG_WARNING_TYPE,
                "Using on-board clock as the time reference.\r\n");
    const auto boxes = m.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(m.MsOf(boxes[0].shownAt), 10000);
    EXPECT_EQ(boxes[0].text,
              "GPS time reference is off line.  Using internal on-board clock as time reference.");
    EXPECT_EQ(boxes[0].caption, "QxrSync Warning");
    EXPECT_EQ(boxes[0].style, 0x200030u);
    EXPECT_EQ(boxes[0].owner, nullptr);
}

TEST_F(SyncLoopTest, OnBoardClockOnACardWithoutGps) {
    SetParameter("LogThreshold", 0);
    m.card.reference = kOnBoard;
    m.card.gpsPresent = false;
    RunUntil(60000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    ExpectEvent(events[0], 10000, 108, EVENTLOG_INFORMATION_TYPE,
                "Using on-board clock as the time reference.\r\n");
    EXPECT_TRUE(m.messageBoxes.Boxes().empty());
}

TEST_F(SyncLoopTest, FirstPassSeesNoReference) {
    SetParameter("LogThreshold", 0);
    m.card.reference = kNone;
    RunUntil(60000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    ExpectEvent(events[0], 0, 107, EVENTLOG_WARNING_TYPE, "No time reference available.\r\n");
    EXPECT_TRUE(m.messageBoxes.Boxes().empty());
}

TEST_F(SyncLoopTest, GpsLostAndBackWithinTheLogDelay) {
    SetParameter("LogThreshold", 0);
    m.At(3000, [&] { m.card.reference = kOnBoard; });
    m.At(8000, [&] { m.card.reference = kGps; });
    RunUntil(60000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    ExpectEvent(events[0], 0, 108, EVENTLOG_INFORMATION_TYPE,
                "Using GPS as the time reference.\r\n");
    EXPECT_TRUE(m.messageBoxes.Boxes().empty());
}

TEST_F(SyncLoopTest, OnBoardClockThenNoReferenceWithinTheDelay) {
    SetParameter("LogThreshold", 0);
    m.card.reference = kOnBoard;
    m.At(4000, [&] { m.card.reference = kNone; });
    RunUntil(60000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 2u);
    ExpectEvent(events[0], 4000, 107, EVENTLOG_WARNING_TYPE, "No time reference available.\r\n");
    ExpectEvent(events[1], 10000, 108, EVENTLOG_WARNING_TYPE, "Using ? as the time reference.\r\n");
    EXPECT_EQ(PopupTimesMs(), std::vector<int64_t>{10000});
}

// GPS lost to no reference: event 107 at once and no event 108 "?" (GPS has been logged,
// which cleared the change tick), but the pop-up armed by the change to GPS still falls due
// when its delay has run out, as the card has GPS and the reference is not GPS.
TEST_F(SyncLoopTest, GpsToNoReference) {
    SetParameter("LogThreshold", 0);
    m.At(4000, [&] { m.card.reference = kNone; });
    RunUntil(60000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 2u);
    ExpectEvent(events[0], 0, 108, EVENTLOG_INFORMATION_TYPE,
                "Using GPS as the time reference.\r\n");
    ExpectEvent(events[1], 4000, 107, EVENTLOG_WARNING_TYPE, "No time reference available.\r\n");
    EXPECT_EQ(PopupTimesMs(), std::vector<int64_t>{10000});
}

TEST_F(SyncLoopTest, ReferenceValuesOutOfRangeAreTakenModuloThree) {
    SetParameter("LogThreshold", 0);
    m.card.reference = 5;                         // on-board clock
    m.At(20000, [&] { m.card.reference = -1; });  // 0xFFFFFFFF % 3 = 0: none
    RunUntil(30000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "Using on-board clock as the time reference.\r\n");
    EXPECT_EQ(events[1].id, 107u);
    EXPECT_EQ(events[1].ms, 20000);
}

TEST_F(SyncLoopTest, ParametersSetTheDelays) {
    SetParameter("LogThreshold", 0);
    SetParameter("LogSecsNoGPS", 3);
    SetParameter("MsgSecsNoGPS", 7);
    m.card.reference = kOnBoard;
    RunUntil(30000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ms, 3000);
    EXPECT_EQ(PopupTimesMs(), std::vector<int64_t>{7000});
}

TEST_F(SyncLoopTest, ZeroDelaysSwitchTheirReportsOff) {
    SetParameter("LogSecsNoGPS", 0);
    SetParameter("MsgSecsNoGPS", 0);
    SetParameter("LogThreshold", 0);
    m.card.reference = kOnBoard;
    m.At(20000, [&] { m.card.reference = kGps; });
    m.At(40000, [&] { m.card.reference = kNone; });
    m.At(50000, [&] { m.card.reference = kOnBoard; });
    RunUntil(90000);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);  // 107 still comes at once
    EXPECT_EQ(events[0].id, 107u);
    EXPECT_TRUE(m.messageBoxes.Boxes().empty());
    EXPECT_FALSE(m.card.timeCallsAt.empty());  // corrections went on, unreported
}

// --- The pop-up -----------------------------------------------------------------------

TEST_F(SyncLoopTest, PopupDueWhileAnotherIsShowingComesAfterItIsClosed) {
    SetParameter("LogThreshold", 0);
    m.threads.SetMode(sim::SimThreads::Mode::kDeferred);
    m.threads.SetDeferral([] { return int64_t{25000} * 10000; });  // each box open for 25 s
    m.card.reference = kOnBoard;
    m.At(12000, [&] { m.card.reference = kGps; });
    m.At(15000, [&] { m.card.reference = kOnBoard; });  // next pop-up due at 25 s
    RunUntil(80000);
    const auto boxes = m.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(m.MsOf(boxes[0].shownAt), 10000);
    EXPECT_EQ(m.MsOf(boxes[0].closedAt), 35000);
    // The first pass after the close at 35 s starts the second one.
    EXPECT_EQ(m.MsOf(boxes[1].shownAt), 35000);
    EXPECT_EQ(m.MsOf(boxes[1].closedAt), 60000);
    EXPECT_EQ(m.messageBoxes.MaxOpenCount(), 1);
}

TEST_F(SyncLoopTest, PopupDueWhileShowingIsDroppedWhenGpsIsBack) {
    SetParameter("LogThreshold", 0);
    m.threads.SetMode(sim::SimThreads::Mode::kDeferred);
    m.threads.SetDeferral([] { return int64_t{25000} * 10000; });
    m.card.reference = kOnBoard;
    m.At(12000, [&] { m.card.reference = kGps; });
    m.At(15000, [&] { m.card.reference = kOnBoard; });
    m.At(30000, [&] { m.card.reference = kGps; });  // back before the first box closes
    RunUntil(80000);
    EXPECT_EQ(m.messageBoxes.Boxes().size(), 1u);
}

TEST_F(SyncLoopTest, PopupThreadThatCannotStartDoesNotBlockLaterOnes) {
    SetParameter("LogThreshold", 0);
    m.threads.FailCreation(true);
    m.card.reference = kOnBoard;
    m.At(11000, [&] {
        m.threads.FailCreation(false);
        m.card.reference = kGps;
    });
    m.At(12000, [&] { m.card.reference = kOnBoard; });
    RunUntil(40000);
    EXPECT_EQ(m.threads.CreatedCount(), 1);
    EXPECT_EQ(PopupTimesMs(), std::vector<int64_t>{22000});
}

// --- Corrections ----------------------------------------------------------------------

TEST_F(SyncLoopTest, OffsetTextsAsWritten) {
    // The texts of the three offsets named for the event, spelled out; beyond about 24.8
    // days the engine's 32-bit result stops at its limits with the right sign.
    constexpr int64_t kDayMs = 86400000;
    const struct {
        int64_t ms;
        const char* text;
    } cases[] = {{-1250, "-1.250"},
                 {5, "0.005"},
                 {999, "0.999"},
                 {-25 * kDayMs, "-2147483.648"},
                 {25 * kDayMs, "2147483.647"},
                 {-30 * kDayMs, "-2147483.648"},
                 {30 * kDayMs, "2147483.647"},
                 {-8401 * kDayMs, "-2147483.648"},  // 23 years: a dead CMOS battery
                 {8401 * kDayMs, "2147483.647"}};
    for (const auto& c : cases) {
        testing::ServiceTestMachine machine(ClockWith(c.ms));
        machine.registry.SetDword(kParametersKey, "TimeSetBias", 0);
        machine.registry.SetDword(kParametersKey, "LogThreshold", 1);
        machine.PrepareRun(500);
        SyncService service(machine.ports, machine.card, machine.console);
        ASSERT_TRUE(service.RunDispatcher());
        const auto events = machine.eventLog.Events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[1].id, 109u);
        EXPECT_EQ(events[1].strings, std::vector<std::string>{c.text});
        if (c.ms >= kDayMs || c.ms <= -kDayMs) {  // the clock itself was set to the card
            const int64_t error = machine.clock.SystemTime() - machine.clock.TrueTime();
            EXPECT_LT(error < 0 ? -error : error, 10000000) << c.text;
        }
    }
}

class ThresholdTest : public SyncLoopTest {
  protected:
    ThresholdTest() : SyncLoopTest(ClockWith(100)) { SetParameter("TimeSetBias", 0); }
};

TEST_F(ThresholdTest, ExactlyAtTheThresholdIsLogged) {
    SetParameter("LogThreshold", 100);
    RunUntil(500);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "Correcting system time offset of 0.100 seconds.\r\n");
}

TEST_F(ThresholdTest, OneMillisecondBelowIsNot) {
    SetParameter("LogThreshold", 101);
    RunUntil(500);
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 108u);
}

TEST_F(ThresholdTest, ZeroThresholdNeverLogs) {
    SetParameter("LogThreshold", 0);
    RunUntil(500);
    EXPECT_EQ(LoopEvents().size(), 1u);
    EXPECT_EQ(m.card.timeCallsAt.size(), 1u);
}

// The loop's own boost, PriorityBoost(256, 15), is held from the first pass to the last,
// between the corrections too (the engine's own boost lasts only for each Update). In the
// real-time class the thread keeps its priority rather than go time-critical.
TEST_F(SyncLoopTest, TheLoopRunsBoostedThroughout) {
    std::vector<std::pair<DWORD, int>> seen;
    for (const int64_t ms : {250, 5250, 12250, 19750}) {
        m.At(ms, [&] { seen.emplace_back(m.process.PriorityClass(), m.process.ThreadPriority()); });
    }
    const DWORD classBefore = m.process.PriorityClass();
    const int threadBefore = m.process.ThreadPriority();
    RunUntil(20000);
    const std::pair<DWORD, int> boosted{REALTIME_PRIORITY_CLASS, threadBefore};
    EXPECT_EQ(seen, (std::vector<std::pair<DWORD, int>>(4, boosted)));
    EXPECT_EQ(m.process.PriorityClass(), classBefore);
    EXPECT_EQ(m.process.ThreadPriority(), threadBefore);
}

TEST_F(SyncLoopTest, CorrectionEveryRampPeriod) {
    SetParameter("LogThreshold", 0);
    RunUntil(35000);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 10000, 20000, 30000}));
}

TEST_F(SyncLoopTest, LongerRampLengthensTheInterval) {
    SetParameter("LogThreshold", 0);
    SetParameter("RampDuration", 3);  // 2750 ms: every sixth pass
    RunUntil(10000);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 3000, 6000, 9000}));
}

class FailedCardTimeTest : public SyncLoopTest {
  protected:
    FailedCardTimeTest() : SyncLoopTest(ClockWith(2000)) {}
};

TEST_F(FailedCardTimeTest, SkipsTheCorrectionAndRestartsTheInterval) {
    SetParameter("LogThreshold", 1);
    m.card.timeError = ERROR_GEN_FAILURE;
    m.At(9000, [&] { m.card.timeError = 0; });
    RunUntil(15000);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 10000}));
    std::vector<int64_t> reported;
    for (const Event& e : LoopEvents()) {
        if (e.id == 109) reported.push_back(e.ms);
    }
    EXPECT_EQ(reported, std::vector<int64_t>{10000});
}

// A reading whose fields make no calendar time is not handed to the engine at all: no
// trace of an update, no event 109, and the interval starts again as after a failed read.
TEST_F(FailedCardTimeTest, UnconvertibleCardTimesAreSkippedLikeFailedReads) {
    const struct {
        const char* name;
        std::function<void(CardTime*)> edit;
    } cases[] = {
        {"second 60", [](CardTime* t) { t->second = 60; }},
        {"all zero", [](CardTime* t) { *t = CardTime{}; }},
        {"month 13", [](CardTime* t) { t->month = 13; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ServiceTestMachine machine(ClockWith(2000));
        machine.registry.SetDword(kParametersKey, "LogThreshold", 1);
        machine.card.editTime = c.edit;
        std::vector<std::string> updateTraces;
        discipline::DisciplineTraceSink previous =
            discipline::SetDisciplineTraceSink([&](const char* line) {
                if (std::string(line).rfind("GetSysTimeAdjust", 0) != 0) {
                    updateTraces.push_back(std::to_string(machine.NowMs()) + " " + line);
                }
            });
        machine.At(9000, [&] { machine.card.editTime = nullptr; });
        machine.PrepareRun(15000);
        SyncService service(machine.ports, machine.card, machine.console);
        ASSERT_TRUE(service.RunDispatcher());
        discipline::SetDisciplineTraceSink(std::move(previous));

        std::vector<int64_t> corrections;
        for (int64_t t : machine.card.timeCallsAt) corrections.push_back(machine.MsOf(t));
        EXPECT_EQ(corrections, (std::vector<int64_t>{0, 10000}));
        ASSERT_FALSE(updateTraces.empty());
        EXPECT_EQ(updateTraces.front().rfind("10000 ", 0), 0u) << updateTraces.front();
        std::vector<int64_t> reported;
        for (const Event& e : machine.Logged()) {
            if (e.id == 109) reported.push_back(e.ms);
        }
        EXPECT_EQ(reported, std::vector<int64_t>{10000});
        EXPECT_EQ(machine.clock.SetSystemTimeCount(), 0);
    }
}

// The 64-bit latch counter is high:low with the low word taken unsigned: a low word with bit
// 31 set must not carry its sign into the high word.
class LatchCounterTest : public SyncLoopTest {
  protected:
    // Uptime 3,700 s at 10 MHz: the counter is 0x8'9D5F'3200, its low word above 2^31.
    LatchCounterTest() : SyncLoopTest(ClockWith(1500, 3700000)) {}
};

TEST_F(LatchCounterTest, LowWordWithBitThirtyOneSet) {
    SetParameter("LogThreshold", 1);
    SetParameter("TimeSetBias", 0);
    constexpr int64_t kAge = 2 * 10000000;  // the card time was latched 2 s before the read
    m.card.editTime = [&](CardTime* t) {
        LARGE_INTEGER counter{};
        m.clock.QueryPerformanceCounter(&counter);
        const uint64_t latch = static_cast<uint64_t>(counter.QuadPart - kAge);
        ASSERT_GE(latch & 0xFFFFFFFFu, 0x80000000u);
        SYSTEMTIME st{};
        FileTimeToSystemTimeFields(m.clock.TrueTime() - kAge, &st);
        t->second = st.wSecond;
        t->minute = st.wMinute;
        t->hour = st.wHour;
        t->day = st.wDay;
        t->month = st.wMonth;
        t->year = st.wYear;
        t->latchCounterLow = static_cast<uint32_t>(latch);
        t->latchCounterHigh = static_cast<uint32_t>(latch >> 32);
    };
    RunUntil(500);
    // The age brings the reading up to the present: only the system's 1.5 s lead remains.
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, "Correcting system time offset of 1.500 seconds.\r\n");
}

class ShortUptimeTest : public SyncLoopTest {
  protected:
    ShortUptimeTest() : SyncLoopTest(ClockWith(0, 5000)) {}
};

TEST_F(ShortUptimeTest, FirstCorrectionWaitsForTheTickCounterToPassTheInterval) {
    SetParameter("LogThreshold", 0);
    RunUntil(30000);
    // The tick counter reaches 9750 ms after 4750 ms; the pass at 5000 ms corrects.
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{5000, 15000, 25000}));
}

class WrappingTickTest : public SyncLoopTest {
  protected:
    WrappingTickTest() : SyncLoopTest(ClockWith(0, (uint64_t{1} << 32) - 3000)) {}
};

TEST_F(WrappingTickTest, TickCounterWrapDoesNotDisturbTheIntervals) {
    SetParameter("LogThreshold", 0);
    m.card.reference = kOnBoard;
    RunUntil(45000);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 10000, 20000, 30000, 40000}));
    const auto events = LoopEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ms, 10000);
    EXPECT_EQ(PopupTimesMs(), std::vector<int64_t>{10000});
}

// --- Card dates that cannot be true --------------------------------------------------

// A card whose GPS receiver gets the week-number era wrong shows a date 1024 weeks back, which
// the engine's own check (2002..2099) lets through. Such a reading is neither corrected from
// nor served, and each spell of them is reported once; readings from 2026-01-01 on are taken.
TEST(CardDateFloorTest, ReadingsBeforeTheFloorAreNeitherCorrectedFromNorServed) {
    constexpr int64_t kSecond = 10000000;
    constexpr int64_t kStart = 134410752000000000LL;  // the machine's start, 2026-12-07 00:00
    constexpr int64_t kFloor = 134116992000000000LL;  // 2026-01-01 00:00
    constexpr int64_t kEraBack = -int64_t{1024} * 7 * 86400 * kSecond;
    constexpr int64_t kForever = std::numeric_limits<int64_t>::max();
    constexpr int64_t kRunMs = 180000, kAskMs = 175300;
    struct Spell {
        int64_t fromMs, untilMs, shift;  // card minus true time while fromMs <= now < untilMs
    };
    const struct {
        const char* name;
        std::vector<Spell> spells;
        bool spellsTaken;  // the readings of the spells are corrected from
        int steps;
        std::vector<std::pair<int64_t, std::string>> reports;  // event 119: when, the date
        int leap, stratum;                                     // of the reply at kAskMs
    } cases[] = {
        {"a normal date", {}, true, 0, {}, 0, 1},
        {"at the floor from the first reading",
         {{0, kForever, kFloor - kStart}},
         true,
         1,
         {},
         0,
         1},
        // The last reading, at 170 s, shows 2025-12-31 23:59:59.
        {"just before the floor",
         {{0, kForever, kFloor - kSecond - kStart - 170 * kSecond}},
         false,
         0,
         {{0, "2025-12-31"}},
         3,
         0},
        {"1024 weeks back", {{0, kForever, kEraBack}}, false, 0, {{0, "2007-04-23"}}, 3, 0},
        {"1024 weeks back twice, plausible in between and after",
         {{20000, 40000, kEraBack}, {60000, 80000, kEraBack}},
         false,
         0,
         {{20000, "2007-04-23"}, {60000, "2007-04-23"}},
         0,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ServiceTestMachine m;
        sim::SimDatagramSockets network;
        m.registry.SetDword(kParametersKey, "LogThreshold", 0);
        m.registry.SetDword(kParametersKey, "NtpServer", 1);
        auto shiftAt = [&](int64_t ms) {
            for (const Spell& spell : c.spells) {
                if (spell.fromMs <= ms && ms < spell.untilMs) return spell.shift;
            }
            return int64_t{0};
        };
        m.card.editTime = [&](CardTime* t) {
            const int64_t shown = m.clock.TrueTime() + shiftAt(m.NowMs());
            SYSTEMTIME st{};
            FileTimeToSystemTimeFields(shown, &st);
            t->year = st.wYear, t->month = st.wMonth, t->day = st.wDay;
            t->hour = st.wHour, t->minute = st.wMinute, t->second = st.wSecond;
            t->millisecond = static_cast<int32_t>(shown / 10000 % 1000);
        };
        std::vector<int64_t> updates;  // each update of the engine traces one of these first
        discipline::DisciplineTraceSink previous =
            discipline::SetDisciplineTraceSink([&](const char* line) {
                const std::string text(line);
                if (text.rfind("Date = ", 0) == 0 || text == "Time being adjusted gradually") {
                    updates.push_back(m.NowMs());
                }
            });
        m.AddServiceEntry();
        SyncService service(m.ports, m.card, m.console);
        service.ServeTimeWith(network, ntp::TimeServing::Mode::kCallerServes);
        std::vector<sim::SimDatagram> replies;
        m.At(kAskMs, [&] {
            std::vector<uint8_t> request(48, 0);
            request[0] = (4 << 3) | 3;
            platform::SocketAddress client;
            client.address[0] = 10, client.address[3] = 7;
            client.port = 40000;
            network.Deliver(client, 123, request);
            service.ServeWaitingTimeRequests();
            replies = network.TakeSent();
        });
        m.StopAt(kRunMs);
        ASSERT_TRUE(service.RunDispatcher());
        discipline::SetDisciplineTraceSink(std::move(previous));

        std::vector<int64_t> expectedUpdates;
        for (int64_t ms = 0; ms < kRunMs; ms += 10000) {
            if (shiftAt(ms) == 0 || c.spellsTaken) {
                expectedUpdates.push_back(ms);
            }
        }
        EXPECT_EQ(updates, expectedUpdates);
        EXPECT_EQ(m.clock.SetSystemTimeCount(), c.steps);
        std::vector<std::pair<int64_t, std::string>> reports;
        for (const Event& e : m.Logged()) {
            if (e.id != 119) continue;
            EXPECT_EQ(e.type, EVENTLOG_WARNING_TYPE);
            reports.emplace_back(e.ms, e.text);
        }
        std::vector<std::pair<int64_t, std::string>> expectedReports;
        for (const auto& [ms, date] : c.reports) {
            expectedReports.emplace_back(ms, "The card reports the date " + date +
                                                 ", which cannot be true; the clock is not "
                                                 "corrected from it.\r\n");
        }
        EXPECT_EQ(reports, expectedReports);
        ASSERT_EQ(replies.size(), 1u);
        ASSERT_EQ(replies[0].data.size(), 48u);
        EXPECT_EQ(replies[0].data[0] >> 6, c.leap);
        EXPECT_EQ(replies[0].data[1], c.stratum);
        // A GPS reference is never served from the status alone while the date is false.
        EXPECT_EQ(std::memcmp(replies[0].data.data() + 12, "GPS", 4) == 0, c.stratum == 1);
    }
}

// --- Parameters -----------------------------------------------------------------------

TEST_F(SyncLoopTest, ParametersOfTheWrongSizeKeepTheirDefaults) {
    m.registry.SetValue(kParametersKey, "LogThreshold", REG_BINARY, {1, 0});
    m.registry.SetValue(kParametersKey, "LogSecsNoGPS", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    m.registry.SetValue(kParametersKey, "MsgSecsNoGPS", REG_DWORD, {});
    m.registry.SetValue(kParametersKey, "TimeSetBias", REG_BINARY, {20, 0, 0, 0});  // any type
    m.registry.SetString(kParametersKey, "MsgThreshold", REG_SZ, "abc");  // 4 bytes with NUL
    RunUntil(500);
    const SyncParameters defaults;
    EXPECT_EQ(parameters.logThreshold, defaults.logThreshold);
    EXPECT_EQ(parameters.logSecsNoGps, defaults.logSecsNoGps);
    EXPECT_EQ(parameters.msgSecsNoGps, defaults.msgSecsNoGps);
    EXPECT_EQ(parameters.timeSetBias, 20);
    EXPECT_EQ(parameters.msgThreshold, 0x00636261);
}

// Only a ramp of 0 or less, or one whose millisecond interval leaves 32 bits, gives way to
// the default; every other stored ramp and every percentage is used as it stands.
TEST_F(SyncLoopTest, OnlyUnusableRampsFallBackToTheDefault) {
    const struct {
        int32_t ramp;
        int32_t percent;
        int32_t usedRamp;
        std::size_t corrections;  // in 25 s; a ramp of a day or more has not elapsed yet
    } cases[] = {
        {0, -100, 10, 3},
        {-5, 1001, 10, 3},
        {4294968, std::numeric_limits<int32_t>::max(), 10, 3},
        {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(), 10, 3},
        {86401, -1, 86401, 0},
        {4294967, 100000, 4294967, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.ramp << " s, " << c.percent << " %");
        testing::ServiceTestMachine machine;
        machine.registry.SetDword(kParametersKey, "RampDuration", static_cast<DWORD>(c.ramp));
        machine.registry.SetDword(kParametersKey, "MaxAdjustPct", static_cast<DWORD>(c.percent));
        machine.registry.SetDword(kParametersKey, "LogThreshold", 0);
        machine.PrepareRun(25000);
        SyncService service(machine.ports, machine.card, machine.console);
        ASSERT_TRUE(service.RunDispatcher());
        EXPECT_EQ(service.Parameters().rampDuration, c.usedRamp);
        EXPECT_EQ(service.Parameters().maxAdjustPct, c.percent);
        EXPECT_EQ(machine.card.timeCallsAt.size(), c.corrections);
    }
}

TEST_F(SyncLoopTest, UsableLimitsAreKept) {
    SetParameter("RampDuration", 1);
    SetParameter("MaxAdjustPct", 0);
    SetParameter("LogThreshold", 0);
    RunUntil(2000);
    EXPECT_EQ(parameters.rampDuration, 1);
    EXPECT_EQ(parameters.maxAdjustPct, 0);
    EXPECT_EQ(CorrectionTimesMs(), (std::vector<int64_t>{0, 1000}));
}

}  // namespace
}  // namespace qxr::sync
