// The opt-in tracking log on the simulated machine: nothing without the registry value; with
// it, a header and one line per correction that appends across restarts, rotates at its size
// limit keeping one old generation, a path that cannot be written reported once while the
// loop goes on correcting, a file that blocks holding only the log's writer, and the path forms
// that are expanded or refused.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

using testing::kParametersKey;

constexpr char kLogPath[] = "C:\\Logs\\qxrsync.csv";
constexpr char kHeader[] =
    "system_utc,card_utc,offset_ms,action,adjustment,increment,reference,gps_fitted";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_FALSE(line.empty() || line.back() != '\r') << "line without CR LF: " << line;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) out.push_back(field);
    return out;
}

class TrackingLogTest : public ::testing::Test {
  protected:
    TrackingLogTest() : m(Config()) {
        m.registry.SetString(kParametersKey, "TrackingLog", REG_SZ, kLogPath);
        m.registry.SetDword(kParametersKey, "RampDuration", 1);  // a correction every second
        m.registry.SetDword(kParametersKey, "LogThreshold", 0);
    }
    static sim::SimClockConfig Config() {
        sim::SimClockConfig config = testing::DefaultClockConfig();
        config.initialOffset = 2 * 10000000LL;  // 2 s ahead: the first correction steps
        return config;
    }

    // Runs the service for `ms` of virtual time from now.
    void RunFor(int64_t ms) {
        m.PrepareRun(m.NowMs() + ms);
        SyncService service(m.ports, m.card, m.console);
        ASSERT_TRUE(service.RunDispatcher());
    }
    std::vector<testing::ServiceTestMachine::LoggedEvent> TrackingEvents() const {
        std::vector<testing::ServiceTestMachine::LoggedEvent> out;
        for (const auto& e : m.Logged()) {
            if (e.id == 113) out.push_back(e);
        }
        return out;
    }

    testing::ServiceTestMachine m;
};

TEST_F(TrackingLogTest, NothingIsWrittenWithoutTheValueAndInstallationDoesNotSeedIt) {
    m.registry.DeleteValue(kParametersKey, "TrackingLog");
    char name[] = "QxrSync.exe";
    char option[] = "-i";
    char* argv[] = {name, option, nullptr};
    {
        SyncService installer(m.ports, m.card, m.console);
        RunServiceProgram(installer, m.console, 2, argv);
    }
    EXPECT_FALSE(m.registry.HasValue(kParametersKey, "TrackingLog"));
    EXPECT_FALSE(m.registry.HasValue(kParametersKey, "TrackingLogMaxKB"));
    RunFor(20000);
    EXPECT_GT(m.card.timeCallsAt.size(), 10u);
    EXPECT_EQ(m.files.CreateCount(), 0);
    EXPECT_TRUE(m.files.Paths().empty());
}

TEST_F(TrackingLogTest, HeaderThenOneLinePerCorrection) {
    m.At(5000, [&] { m.card.reference = static_cast<int32_t>(TimeReference::OnBoardClock); });
    m.At(5000, [&] { m.card.gpsPresent = false; });
    RunFor(10000);
    const auto lines = Lines(m.files.Contents(kLogPath));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], kHeader);
    EXPECT_EQ(lines.size() - 1, m.card.timeCallsAt.size());
    EXPECT_EQ(m.files.OpenHandleCount(), 0);

    // The first correction: the clock 2 s ahead of the card, set in one step. The card reads
    // whole seconds with no latch, so the system time read with it is 2 s ahead plus the
    // part of the second the card does not give.
    const auto first = Fields(lines[1]);
    ASSERT_EQ(first.size(), 8u) << lines[1];
    EXPECT_EQ(first[0], "2026-12-07T00:00:02.000Z");
    EXPECT_EQ(first[1], "2026-12-07T00:00:00.000Z");
    EXPECT_EQ(first[2], "2001");  // 2 s plus the 1.5 ms bias, less the counter's lag
    EXPECT_EQ(first[3], "step");
    EXPECT_EQ(first[4], "156249");  // just off the increment: the clock is taken
    EXPECT_EQ(first[5], "156250");
    EXPECT_EQ(first[6], "GPS");
    EXPECT_EQ(first[7], "1");

    const auto second = Fields(lines[2]);
    // A second later the clock is back on the card, as seen through its 15.6 ms tick.
    EXPECT_EQ(second[0], "2026-12-07T00:00:00.999Z");
    EXPECT_EQ(second[1], "2026-12-07T00:00:01.000Z");
    EXPECT_EQ(second[3], "slew");
    EXPECT_NE(second[4], "156250");

    const auto last = Fields(lines.back());
    EXPECT_EQ(last[6], "on-board clock");
    EXPECT_EQ(last[7], "0");
}

TEST_F(TrackingLogTest, AppendsAcrossRestarts) {
    RunFor(5000);
    const size_t firstRun = m.card.timeCallsAt.size();
    const std::string before = m.files.Contents(kLogPath);
    RunFor(5000);
    const std::string after = m.files.Contents(kLogPath);
    ASSERT_EQ(after.compare(0, before.size(), before), 0) << "the first run's lines are kept";
    const auto lines = Lines(after);
    EXPECT_EQ(lines.size() - 1, m.card.timeCallsAt.size());
    EXPECT_GT(m.card.timeCallsAt.size(), firstRun);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i], kHeader) << "header repeated";
}

TEST_F(TrackingLogTest, RotatesAtTheLimitKeepingOneOldGeneration) {
    m.registry.SetDword(kParametersKey, "TrackingLogMaxKB", 1);
    RunFor(120000);  // about 160 lines of some 90 bytes: several rotations
    const std::string current = m.files.Contents(kLogPath);
    const std::string old = m.files.Contents(std::string(kLogPath) + ".1");
    EXPECT_EQ(m.files.Paths().size(), 2u);
    EXPECT_LE(current.size(), 1024u);
    EXPECT_LE(old.size(), 1024u);
    EXPECT_GT(old.size(), 1024u - 100);  // rotated only when the next line would not fit
    const auto oldLines = Lines(old), lines = Lines(current);
    ASSERT_GE(oldLines.size(), 2u);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(oldLines[0], kHeader);
    EXPECT_EQ(lines[0], kHeader);
    // No line lost at the last rotation: the old generation ends just before the new begins,
    // and the newest correction is the current file's last line.
    const size_t kept = oldLines.size() + lines.size() - 2;
    const auto& calls = m.card.timeCallsAt;
    EXPECT_EQ(Fields(oldLines.back())[1] < Fields(lines[1])[1], true);
    EXPECT_EQ(Fields(lines.back())[1], "2026-12-07T00:01:59.000Z");
    EXPECT_LT(kept, calls.size());
    EXPECT_TRUE(TrackingEvents().empty());
}

TEST_F(TrackingLogTest, AnUnwritablePathIsReportedOnceAndTheLoopGoesOn) {
    m.files.FailOperation(sim::SimFileSystem::kCreate, kLogPath, ERROR_PATH_NOT_FOUND);
    m.At(10000, [&] { m.files.ClearFailures(); });
    m.At(15000, [&] { m.files.FailOperation(sim::SimFileSystem::kWrite, kLogPath, 112); });
    RunFor(20000);
    EXPECT_EQ(m.card.timeCallsAt.size(), 20u);  // every second throughout
    const auto events = TrackingEvents();
    ASSERT_EQ(events.size(), 2u) << "once while the path is missing, once when the disk fills";
    EXPECT_EQ(events[0].ms, 0);
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].text,
              "The tracking log C:\\Logs\\qxrsync.csv could not be written.  "
              "Error 3.\r\n");
    EXPECT_GE(events[1].ms, 15000);
    EXPECT_EQ(events[1].text,
              "The tracking log C:\\Logs\\qxrsync.csv could not be written.  "
              "Error 112.\r\n");
    // Written while it could be: the lines of 10 s to 15 s, nothing partial after.
    const auto lines = Lines(m.files.Contents(kLogPath));
    EXPECT_EQ(lines[0], kHeader);
    EXPECT_EQ(lines.size(), 6u);
    EXPECT_EQ(m.files.OpenHandleCount(), 0);
}

TEST_F(TrackingLogTest, AFileThatBlocksHoldsOnlyTheWriter) {
    m.threads.SetMode(sim::SimThreads::Mode::kReal);
    // Held far longer than a loop that kept its schedule needs to reach the release at 80 s.
    m.files.HoldWrites(5000);
    // The writer's thread has taken the first line and is held in its write.
    m.At(500, [&] { EXPECT_TRUE(m.files.WaitForWrites(1, 5000)); });
    m.At(80000, [&] {
        m.files.ReleaseWrites();
        // The write held since 0 s and the 64 queued behind it; those of 65 s to 79 s found
        // the queue full.
        EXPECT_TRUE(m.files.WaitForWrites(65, 5000));
    });
    // The loop runs in virtual time and could outpace the writer's real thread: before the
    // pass at 90 s, let it write the ten lines of 80 s to 89 s, so that it has caught up and
    // that pass reports the count.
    m.At(90000, [&] { EXPECT_TRUE(m.files.WaitForWrites(75, 5000)); });
    RunFor(100000);
    EXPECT_EQ(m.files.HoldsTimedOut(), 0) << "the loop waited for the file";
    const auto& calls = m.card.timeCallsAt;
    ASSERT_EQ(calls.size(), 100u);
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i] - calls[i - 1], 1000 * 10000);
    std::vector<testing::ServiceTestMachine::LoggedEvent> behind;
    for (const auto& e : m.Logged()) {
        if (e.id == 117) behind.push_back(e);
    }
    ASSERT_EQ(behind.size(), 1u);
    EXPECT_GE(behind[0].ms, 80000);
    EXPECT_EQ(behind[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(behind[0].text,
              "The tracking log C:\\Logs\\qxrsync.csv fell behind; 15 lines were dropped.\r\n");
    // Everything not dropped is written, the last lines before the service stopped.
    EXPECT_EQ(Lines(m.files.Contents(kLogPath)).size(), 1u + 100u - 15u);
    EXPECT_EQ(m.files.OpenHandleCount(), 0);
    EXPECT_TRUE(TrackingEvents().empty());
}

TEST_F(TrackingLogTest, PathFormsExpandedOrRefused) {
    const struct {
        const char* value;
        DWORD type;
        const char* written;  // null: refused with event 113 and this error
        const char* error;
    } cases[] = {
        {"%QXRLOGS%\\q.csv", REG_EXPAND_SZ, "D:\\Logs\\q.csv", nullptr},
        {"\\\\server\\share\\q.csv", REG_SZ, "\\\\server\\share\\q.csv", nullptr},
        {"%QXRLOGS%\\q.csv", REG_SZ, nullptr, "161"},  // taken as written: relative
        {"qxrsync.csv", REG_SZ, nullptr, "161"},
        {"C:qxrsync.csv", REG_EXPAND_SZ, nullptr, "161"},
        {"\\Logs\\q.csv", REG_SZ, nullptr, "161"},
        {"%QXRLONG%%QXRLONG%", REG_EXPAND_SZ, nullptr, "206"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        testing::ServiceTestMachine machine(Config());
        machine.files.SetEnvironment("qxrlogs", "D:\\Logs");
        machine.files.SetEnvironment("QXRLONG", "C:\\" + std::string(200, 'x'));
        machine.registry.SetString(kParametersKey, "TrackingLog", c.type, c.value);
        machine.registry.SetDword(kParametersKey, "RampDuration", 1);
        machine.PrepareRun(3000);
        SyncService service(machine.ports, machine.card, machine.console);
        ASSERT_TRUE(service.RunDispatcher());
        std::vector<std::string> events;
        for (const auto& e : machine.Logged()) {
            if (e.id == 113) events.push_back(e.text);
        }
        if (c.written != nullptr) {
            EXPECT_EQ(machine.files.Paths(), std::vector<std::string>{c.written});
            EXPECT_TRUE(events.empty());
        } else {
            EXPECT_TRUE(machine.files.Paths().empty());
            EXPECT_EQ(events, std::vector<std::string>{std::string("The tracking log ") + c.value +
                                                       " could not be written.  Error " + c.error +
                                                       ".\r\n"});
        }
    }
}

// A wild latch counter (high half 0x80000000 on an 1,193,182 Hz counter) makes the card time
// plus its age too large for 64 bits: the line's card time saturates.
TEST(TrackingLogLatchTest, AWildLatchSaturatesTheCardTime) {
    sim::SimClockConfig config = testing::DefaultClockConfig();
    config.counterFrequency = 1193182;
    testing::ServiceTestMachine machine(config);
    machine.registry.SetString(kParametersKey, "TrackingLog", REG_SZ, kLogPath);
    machine.card.editTime = [](CardTime* t) { t->latchCounterHigh = 0x80000000u; };
    machine.PrepareRun(500);
    SyncService service(machine.ports, machine.card, machine.console);
    ASSERT_TRUE(service.RunDispatcher());
    ASSERT_EQ(service.TrackedCount(), 1);
    EXPECT_EQ(service.LastTracked().cardTime, std::numeric_limits<int64_t>::max());
}

TEST_F(TrackingLogTest, ARotationThatFailsDropsTheLineRatherThanGrowTheFile) {
    m.registry.SetDword(kParametersKey, "TrackingLogMaxKB", 1);
    m.files.FailOperation(sim::SimFileSystem::kMove, kLogPath, ERROR_SHARING_VIOLATION);
    RunFor(60000);
    EXPECT_LE(m.files.Contents(kLogPath).size(), 1024u);
    EXPECT_FALSE(m.files.Exists(std::string(kLogPath) + ".1"));
    const auto events = TrackingEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].text.find("Error 32."), std::string::npos);
}

}  // namespace
}  // namespace qxr::sync
