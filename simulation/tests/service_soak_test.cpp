// Fifty days of the synchronizer service in virtual time on one simulated PC, with the real
// card library on the simulated card: GPS lost for half an hour every four hours, and the
// driver restarted once a day. A restarted driver ends the service (event 112); it is started
// again at once, as an administrator or a recovery script would, so that each day also sees a
// new service process on the same machine. The run crosses the tick counter's wrap.
//
// Checked: the exact event sequence with its times, one pop-up per outage, the clock within
// two ticks of the card from the first hour on and ten minutes after every recovery, the
// clock's rate handed back at every stop, and the machine's open handles and the process's
// resident memory the same at the end as at the start (both printed).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "card_access/card_library.h"
#include "card_access/library_card_client.h"
#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_console.h"
#include "sync_service/event_messages.h"
#include "sync_service/sync_service.h"

namespace qxr::simulation {
namespace {

constexpr int64_t kSecond = 10000000;  // 100-ns units
constexpr int64_t kHour = 3600 * kSecond;
constexpr int64_t kDay = 24 * kHour;
constexpr int64_t kDuration = 50 * kDay;
constexpr int64_t kFirstOutage = 2 * kHour;
constexpr int64_t kOutageEvery = 4 * kHour;
constexpr int64_t kOutageLength = 30 * 60 * kSecond;
constexpr int64_t kRestartInDay = 12 * kHour + 7 * 60 * kSecond;
constexpr int64_t kPopupOpen = 60 * kSecond;
constexpr int64_t kSettle = 10 * 60 * kSecond;  // recovery to the bound check
constexpr DWORD kTick = 156250;
constexpr double kBoundMs = 2 * kTick / 1e4;  // two clock ticks

using sim::NullConsole;

struct Expected {
    int64_t at;
    DWORD id;
    WORD type;
    std::string text;  // "" = not compared (the offset of event 109)
};

long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int OpenHandles(sim::SimMachine& pc) {
    return pc.device.OpenHandles() + pc.registry.OpenHandleCount() + pc.services.OpenHandleCount() +
           pc.eventLog.OpenSourceCount() + pc.process.OpenTokenCount();
}

std::vector<Expected> ExpectedEvents() {
    const WORD info = EVENTLOG_INFORMATION_TYPE;
    const std::string gps = "Using GPS as the time reference.\r\n";
    // At the start the first correction (event 109) comes before the reference report.
    std::vector<Expected> out{
        {0, 105, info, "The service was started.\r\n"}, {0, 109, info, ""}, {0, 108, info, gps}};
    for (int64_t s = kFirstOutage; s < kDuration; s += kOutageEvery) {
        out.push_back({s + 10 * kSecond, 108, EVENTLOG_WARNING_TYPE,
                       "Using on-board clock as the time reference.\r\n"});
        out.push_back({s + kOutageLength, 108, info, gps});
    }
    for (int64_t r = kRestartInDay; r < kDuration; r += kDay) {
        out.push_back({r, 112, EVENTLOG_ERROR_TYPE, "Dll error: 5\r\n"});
        out.push_back({r, 105, info, "The service was started.\r\n"});
        out.push_back({r, 108, info, gps});
    }
    out.push_back({kDuration, 106, info, "The service was stopped.\r\n"});
    std::stable_sort(out.begin(), out.end(),
                     [](const Expected& a, const Expected& b) { return a.at < b.at; });
    return out;
}

sim::SimMachineConfig SoakMachine() {
    sim::SimMachineConfig config;
    config.clock.timeIncrement = kTick;
    config.clock.driftPpb = 50000;             // +50 ppm
    config.clock.initialOffset = 500 * 10000;  // 0.5 s ahead
    config.clock.uptimeMs = 60000;             // the tick counter wraps on day 49
    config.threadMode = sim::SimThreads::Mode::kDeferred;
    return config;
}

TEST(ServiceSoak, FiftyDaysWithGpsOutagesAndDailyDriverRestarts) {
    sim::SimMachine pc(SoakMachine());
    pc.eventLog.SetMessageTable(sync::RenderEventMessage);
    pc.threads.SetDeferral([] { return kPopupOpen; });
    const int64_t start = pc.clock.TrueTime();
    card::CardModel& card = pc.device.Model();
    const card::CardSettings settings = card.Settings();

    double maxAfterFirstHourMs = 0;
    std::vector<int64_t> recoveries;  // the bound is checked kSettle after each
    std::vector<double> settledMs;
    int handlesAtStart = -1, handlesAtEnd = -1;
    long memoryAtStart = -1, memoryAtEnd = -1;
    int64_t nextOutage = kFirstOutage, nextReturn = -1, nextRestart = kRestartInDay;
    bool stopSent = false;

    pc.clock.AddAdvanceListener([&] {
        const int64_t t = pc.clock.TrueTime() - start;
        if (t >= nextOutage) {
            card.SetReference(2);
            nextReturn = nextOutage + kOutageLength;
            nextOutage += kOutageEvery;
        }
        if (nextReturn >= 0 && t >= nextReturn) {
            card.SetReference(1);
            recoveries.push_back(nextReturn);
            nextReturn = -1;
        }
        if (t >= nextRestart) {
            pc.device.Stop();
            pc.device.Start(settings);
            recoveries.push_back(nextRestart);
            nextRestart += kDay;
        }
        const double offsetMs =
            static_cast<double>(pc.clock.SystemTime() - card.CardTimeAt(pc.device.Sample())) / 1e4;
        if (t >= kHour) maxAfterFirstHourMs = std::max(maxAfterFirstHourMs, std::fabs(offsetMs));
        if (settledMs.size() < recoveries.size() && t >= recoveries[settledMs.size()] + kSettle) {
            settledMs.push_back(std::fabs(offsetMs));
        }
        // Start and end figures at the same point of a day, while a service runs.
        if (handlesAtStart < 0 && t >= kDay + kHour) {
            handlesAtStart = OpenHandles(pc);
            memoryAtStart = ResidentKiB();
        }
        if (handlesAtEnd < 0 && t >= kDuration - kDay + kHour) {
            handlesAtEnd = OpenHandles(pc);
            memoryAtEnd = ResidentKiB();
        }
        if (!stopSent && t >= kDuration) {
            stopSent = true;
            pc.services.SendControl(SERVICE_CONTROL_STOP);
        }
    });

    sim::SimService entry;
    entry.name = sync::kSyncServiceName;
    pc.services.AddService(entry);
    NullConsole console;
    int runs = 0;
    while (!stopSent) {
        // A new service process each time, loading the library afresh.
        pc.services.SetState(sync::kSyncServiceName, SERVICE_START_PENDING);
        card_access::CardLibrary library(pc.device);
        card_access::LibraryCardClient client(library);
        sync::SyncService service(pc.ports, client, console);
        ASSERT_TRUE(service.RunDispatcher());
        ++runs;
        // Every stop hands the clock's rate back and the priorities with it.
        ASSERT_TRUE(pc.clock.AdjustmentDisabled() || pc.clock.CurrentAdjustment() == kTick);
        ASSERT_EQ(pc.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
        ASSERT_EQ(pc.process.ThreadPriority(), THREAD_PRIORITY_NORMAL);
    }
    pc.threads.RunDue();
    const int handlesAfter = OpenHandles(pc);

    std::printf(
        "soak: %d service runs over %.1f days; open handles %d at the start, %d at the "
        "end, %d after the last stop; resident memory %ld KiB at the start, %ld KiB at "
        "the end\n",
        runs, static_cast<double>(pc.clock.TrueTime() - start) / kDay, handlesAtStart, handlesAtEnd,
        handlesAfter, memoryAtStart, memoryAtEnd);
    std::printf(
        "soak: max |offset| after the first hour %.3f ms, worst %zu recoveries after "
        "10 min %.3f ms (bound %.3f ms)\n",
        maxAfterFirstHourMs, settledMs.size(),
        settledMs.empty() ? 0.0 : *std::max_element(settledMs.begin(), settledMs.end()), kBoundMs);

    EXPECT_EQ(runs, 51);
    EXPECT_EQ(handlesAtStart, 2);  // the library's device handle and the event source
    EXPECT_EQ(handlesAtEnd, handlesAtStart);
    EXPECT_EQ(handlesAfter, 0);
    EXPECT_LT(memoryAtEnd - memoryAtStart, 4096);  // KiB; sanitizer trees keep more
    EXPECT_LE(maxAfterFirstHourMs, kBoundMs);
    ASSERT_EQ(settledMs.size(), recoveries.size());
    for (size_t i = 0; i < settledMs.size(); ++i) {
        EXPECT_LE(settledMs[i], kBoundMs) << "recovery at " << recoveries[i] / kSecond << " s";
    }

    const std::vector<Expected> expected = ExpectedEvents();
    const std::vector<sim::SimEvent> events = pc.eventLog.Events();
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
        const int64_t at = events[i].time - start;
        SCOPED_TRACE("event " + std::to_string(i) + " at " + std::to_string(at / 10000) + " ms");
        EXPECT_EQ(events[i].id, expected[i].id);
        EXPECT_EQ(events[i].type, expected[i].type);
        EXPECT_LE(std::llabs(at - expected[i].at), kSecond);
        if (!expected[i].text.empty()) {
            EXPECT_EQ(pc.eventLog.Render(i), expected[i].text);
        }
        if (::testing::Test::HasFailure()) break;
    }

    const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), static_cast<size_t>((kDuration - kFirstOutage - 1) / kOutageEvery + 1));
    for (size_t i = 0; i < boxes.size(); ++i) {
        const int64_t due = kFirstOutage + static_cast<int64_t>(i) * kOutageEvery + 10 * kSecond;
        EXPECT_LE(std::llabs(boxes[i].shownAt - start - due), kSecond) << "pop-up " << i;
        EXPECT_EQ(boxes[i].closedAt - boxes[i].shownAt, kPopupOpen);
    }
}

}  // namespace
}  // namespace qxr::simulation
