// qxrsim and the service's tracking log: a simulated run's log, read back, gives the figures
// the run took from the service's own records (and the counts the simulation saw by itself);
// --plot-log prints the same summary as the run; the reader refuses a damaged file with the
// line that is wrong; the holdover drift shows against true UTC; event labels do not overlap.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "simulation/log_plot.h"
#include "simulation/sync_simulation.h"
#include "simulation/tracking_log_reader.h"

namespace qxr::simulation {
namespace {

std::string TempPath(const char* name) {
    return ::testing::TempDir() + "qxrsim_" + name;
}

SimulationResult Simulate(const RunOptions& options, std::string* text) {
    std::ostringstream out;
    SimulationResult result = RunSimulation(options, out);
    *text = out.str();
    return result;
}

// The lines after `marker`, up to the next line that does not start with two blanks.
std::string Block(const std::string& text, const std::string& marker) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    std::istringstream in(text.substr(text.find('\n', at) + 1));
    std::string line, block;
    while (std::getline(in, line) && line.rfind("  ", 0) == 0) {
        if (line.find("plot written") == std::string::npos) block += line + "\n";
    }
    return block;
}

TEST(TrackingLogTest, ARunsLogReadBackGivesTheRunsFigures) {
    RunOptions options;
    options.scenario = *FindScenario("gps-outage");
    options.scenario.initialOffsetS = -3600;  // set in one step first
    options.sampleEveryS = 0;
    options.trackingLogPath = TempPath("outage.csv");
    std::string runText;
    const SimulationResult run = Simulate(options, &runText);
    ASSERT_EQ(run.exitCode, 0) << runText;

    std::ifstream in(options.trackingLogPath, std::ios::binary);
    std::vector<sync::TrackingRecord> records;
    std::string error;
    bool cut = true;
    ASSERT_TRUE(ReadTrackingLog(in, &records, &error, &cut)) << error;
    EXPECT_FALSE(cut);
    TrackingSummary summary;
    for (const sync::TrackingRecord& r : records) summary.Add(r);
    const TrackingFigures read = summary.Figures();
    const TrackingFigures& made = run.tracking;

    // Counted by the simulation itself: every card time read, every set of the clock.
    EXPECT_EQ(read.corrections, run.corrections);
    EXPECT_EQ(read.steps, run.steps);
    EXPECT_EQ(read.steps, 1);
    EXPECT_EQ(read.slews, run.slews);
    // Taken from the service's records as it wrote them.
    EXPECT_EQ(read.corrections, made.corrections);
    EXPECT_EQ(read.firstMs, made.firstMs);
    EXPECT_EQ(read.lastMs, made.lastMs);
    EXPECT_EQ(read.maxAbsOffsetMs, made.maxAbsOffsetMs);
    EXPECT_DOUBLE_EQ(read.rmsOffsetMs, made.rmsOffsetMs);
    EXPECT_DOUBLE_EQ(read.meanAdjustment, made.meanAdjustment);
    EXPECT_DOUBLE_EQ(read.ratePpm, made.ratePpm);
    EXPECT_EQ(read.increment, 156250u);
    EXPECT_NEAR(read.maxAbsOffsetMs, 3600000, 3);
    // A 50 ppm fast clock, held after the step: the mean adjustment slows it by about that.
    EXPECT_NEAR(read.ratePpm, -50, 2);
    EXPECT_NEAR((read.lastMs - read.firstMs) / 1000.0,
                run.correctionTimesS.back() - run.correctionTimesS.front(), 0.01);

    // The reference changes as the card made them: GPS, the on-board clock at 1 h, GPS at 1.5 h.
    std::vector<std::pair<int32_t, int64_t>> changes;
    for (const sync::TrackingRecord& r : records) {
        if (changes.empty() || changes.back().first != r.reference)
            changes.push_back({r.reference, (r.cardTime - records[0].cardTime) / 10000000});
    }
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[1].first, 2);
    EXPECT_NEAR(changes[1].second, 3600, 10);
    EXPECT_EQ(changes[2].first, 1);
    EXPECT_NEAR(changes[2].second, 5400, 10);

    // qxrsim --plot-log prints the summary the run printed, and plots it.
    std::ostringstream logText;
    const std::string svg = TempPath("outage-log.svg");
    ASSERT_EQ(PlotTrackingLog(options.trackingLogPath, svg, logText), 0) << logText.str();
    const std::string runBlock = Block(runText, "tracking log written to");
    EXPECT_NE(runBlock, "");
    EXPECT_EQ(Block(logText.str(), "qxrsim: tracking log"), runBlock);
    std::ifstream plot(svg);
    std::stringstream content;
    content << plot.rdbuf();
    EXPECT_NE(content.str().find("<svg"), std::string::npos);
    const PlotInput input = TrackingPlotInput(records, "outage.csv");
    int steps = 0, references = 0;
    for (const PlotEvent& e : input.events) (e.type == kStepMark ? steps : references)++;
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(references, 3);
}

TEST(TrackingLogTest, ADamagedLogIsRefusedWithTheLineThatIsWrong) {
    const std::string header =
        "system_utc,card_utc,offset_ms,action,adjustment,increment,reference,gps_fitted\r\n";
    const std::string good =
        "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,2002,step,156249,156250,GPS,1\r\n";
    const struct {
        std::string text;
        std::string error;  // empty: read
    } cases[] = {
        {header + good + good, ""},
        {"", "the file is empty"},
        {good, "line 1: not a QxrSync tracking log"},
        {header + good + "2026-02-30T00:00:00.000Z" + good.substr(24), "line 3: bad system time"},
        {header + good.substr(0, 25) + "2026-12-07 00:00:08.000Z" + good.substr(49),
         "line 2: bad card time"},
        {header + "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,2002,jump,1,156250,GPS,1\n",
         "line 2: bad action"},
        {header + "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,99999999999,step,1,156250,"
                  "GPS,1\n",
         "line 2: bad offset"},
        {header + "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,1,slew,-1,156250,GPS,1\n",
         "line 2: bad adjustment"},
        {header + "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,1,slew,1,156250,Moon,1\n",
         "line 2: bad reference"},
        {header + good + "2026-12-07T00:00:10.000Z,2026-12-07T00:00:08.000Z,1,slew\r\n",
         "line 3: expected 8 fields"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.text);
        std::vector<sync::TrackingRecord> records;
        std::string error;
        bool cut = false;
        const bool ok = ReadTrackingLog(in, &records, &error, &cut);
        EXPECT_EQ(ok, c.error.empty()) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    // A last line cut short by a stop mid-write is left out, and said so.
    std::istringstream in(header + good + good.substr(0, 40));
    std::vector<sync::TrackingRecord> records;
    std::string error;
    bool cut = false;
    ASSERT_TRUE(ReadTrackingLog(in, &records, &error, &cut)) << error;
    EXPECT_TRUE(cut);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].offsetMs, 2002);
    EXPECT_EQ(records[0].action, sync::TrackingAction::kStep);
    EXPECT_EQ(records[0].adjustment, 156249u);
    EXPECT_EQ(records[0].cardTime + 20000000, records[0].systemTime);

    std::ostringstream out;
    EXPECT_EQ(PlotTrackingLog(TempPath("no-such-file.csv"), "", out), 1);
    EXPECT_NE(out.str().find("cannot read"), std::string::npos);
}

// An outage of 30 min with a 20 ppm on-board clock: the card wanders 36 ms off UTC and the
// system clock, following the card, with it; with no drift the outage costs nothing.
TEST(TrackingLogTest, HoldoverDriftShowsAgainstTrueUtc) {
    for (double drift : {20.0, 0.0}) {
        RunOptions options;
        options.scenario = *FindScenario("gps-outage");
        options.scenario.holdoverDriftPpm = drift;
        options.sampleEveryS = 0;
        std::string text;
        const SimulationResult r = Simulate(options, &text);
        SCOPED_TRACE(::testing::Message() << "drift " << drift);
        EXPECT_NEAR(r.maxHoldoverMs, drift * 1.8, 0.01);
        if (drift > 0) {
            EXPECT_GT(r.maxAbsUtcMs, 30);
        } else {
            EXPECT_LT(r.maxAbsUtcMs, 2 * 15.625);
        }
        EXPECT_NE(text.find("against true UTC"), std::string::npos);
    }
}

// Time along a log goes on through a jump of either clock: a card set back, a system clock
// stepped by an hour, each taken from the clock that did not jump.
TEST(TrackingLogTest, TimeAlongTheLogSurvivesAJumpOfEitherClock) {
    constexpr int64_t kS = 10000000;
    auto at = [](int64_t system, int64_t card) {
        sync::TrackingRecord r;
        r.systemTime = system;
        r.cardTime = card;
        return r;
    };
    const sync::TrackingRecord a = at(1000 * kS, 1000 * kS);
    const int64_t usual = 10 * kS;
    EXPECT_EQ(ElapsedBetween(a, at(1010 * kS, 1010 * kS + 3), usual), 10 * kS + 3);  // the card
    EXPECT_EQ(ElapsedBetween(a, at(1010 * kS, 1008 * kS), usual), 10 * kS);   // card set back
    EXPECT_EQ(ElapsedBetween(a, at(1010 * kS, 1013 * kS), usual), 10 * kS);   // card set on
    EXPECT_EQ(ElapsedBetween(a, at(1010 * kS, 997 * kS), usual), 10 * kS);    // card back 13 s
    EXPECT_EQ(ElapsedBetween(a, at(-2590 * kS, 1010 * kS), usual), 10 * kS);  // stepped back
    EXPECT_EQ(ElapsedBetween(a, at(4610 * kS, 1010 * kS), usual), 10 * kS);   // stepped on
    EXPECT_EQ(ElapsedBetween(a, at(990 * kS, 990 * kS), usual), 0);  // both back: never negative
}

TEST(TrackingLogTest, LabelsThatWouldOverlapTakeRowsOfTheirOwn) {
    // "108" and "pop-up" at the same time, one more just after, one far away.
    int rows = 0;
    const auto placed = StackLabels({60, 60, 61, 120}, {3, 6, 3, 3}, 0.5, &rows);
    EXPECT_EQ(placed, (std::vector<int>{0, 1, 2, 0}));
    EXPECT_EQ(rows, 3);
    // Apart by more than width and gap: one row.
    EXPECT_EQ(StackLabels({0, 4, 8}, {3, 3, 3}, 0.5, &rows), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rows, 1);
}

}  // namespace
}  // namespace qxr::simulation
