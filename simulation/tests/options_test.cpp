#include "simulation/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace qxr::simulation {
namespace {

bool Parse(std::vector<const char*> args, RunOptions* options, std::string* error) {
    args.insert(args.begin(), "qxrsim");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(OptionsTest, NoArgumentGivesTheDefaultScenario) {
    RunOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, &options, &error)) << error;
    EXPECT_EQ(options.scenario.name, NamedScenarios().front().name);
    EXPECT_TRUE(options.plotPath.empty());
}

TEST(OptionsTest, ScenarioAndOverridesApply) {
    RunOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"gps-outage", "--drift", "-100", "--tick", "100144", "--duration", "2h",
                       "--RampDuration", "60", "--TimeSetBias", "-3", "--plot", "x.svg"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.scenario.name, "gps-outage");
    EXPECT_DOUBLE_EQ(options.scenario.driftPpm, -100);
    EXPECT_EQ(options.scenario.tickLength, 100144u);
    EXPECT_DOUBLE_EQ(options.scenario.durationS, 7200);
    EXPECT_TRUE(options.scenario.parameters.rampDuration.set);
    EXPECT_EQ(options.scenario.parameters.rampDuration.value, 60);
    EXPECT_EQ(options.scenario.parameters.timeSetBias.value, -3);
    EXPECT_FALSE(options.scenario.parameters.logThreshold.set);
    EXPECT_EQ(options.plotPath, "x.svg");
}

TEST(OptionsTest, BadInputIsRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {"no-such-scenario"},
        {"--drift"},
        {"--drift", "abc"},
        {"--drift", "5000"},
        {"--tick", "100000"},
        {"--duration", "0"},
        {"--duration", "5x"},
        {"--duration", "-1h"},
        {"--LogThreshold", "1e3"},
        {"--MaxAdjustPct", "99999999999"},
        {"--frobnicate", "1"},
        {"--offset", "nan"},
        {"--holdover-drift", "2000"},
        {"--ntp-poll", "8"},
        {"--ntp-poll", "2048"},
        {"--wander", "-1"},
        {"--tracking-log", ""},
        {"gps-outage", "--plot-log", "x.csv"},
        {"--plot-log", "x.csv", "--tracking-log", "y.csv"},
    };
    for (const auto& args : bad) {
        RunOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(OptionsTest, TrackingLogPlotLogAndHoldover) {
    RunOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"gps-outage", "--holdover-drift", "-2.5", "--tracking-log", "t.csv"},
                      &options, &error))
        << error;
    EXPECT_DOUBLE_EQ(options.scenario.holdoverDriftPpm, -2.5);
    EXPECT_EQ(options.trackingLogPath, "t.csv");
    EXPECT_TRUE(options.plotLogPath.empty());
    RunOptions plain;
    ASSERT_TRUE(Parse({"--plot-log", "m.csv", "--plot", "m.svg"}, &plain, &error)) << error;
    EXPECT_EQ(plain.plotLogPath, "m.csv");
    EXPECT_EQ(plain.plotPath, "m.svg");
    EXPECT_DOUBLE_EQ(plain.scenario.holdoverDriftPpm, 0.5);  // the stated default
    EXPECT_DOUBLE_EQ(plain.ntpPollS, 16);                    // today's clients
    EXPECT_DOUBLE_EQ(plain.scenario.wanderPpmPerHour, 0);    // a steady crystal
    RunOptions polled;
    ASSERT_TRUE(
        Parse({"--ntp-clients", "4", "--ntp-poll", "1024", "--wander", "2"}, &polled, &error))
        << error;
    EXPECT_DOUBLE_EQ(polled.ntpPollS, 1024);
    EXPECT_DOUBLE_EQ(polled.scenario.wanderPpmPerHour, 2);
}

TEST(OptionsTest, UnknownOptionAndMissingValueAreToldApart) {
    RunOptions options;
    std::string error;
    EXPECT_FALSE(Parse({"--bogus"}, &options, &error));
    EXPECT_EQ(error, "unknown option --bogus (see --help)");
    EXPECT_FALSE(Parse({"--drift"}, &options, &error));
    EXPECT_EQ(error, "option --drift needs a value");
}

TEST(OptionsTest, DurationUnits) {
    double s = 0;
    EXPECT_TRUE(ParseDuration("90", &s));
    EXPECT_DOUBLE_EQ(s, 90);
    EXPECT_TRUE(ParseDuration("30m", &s));
    EXPECT_DOUBLE_EQ(s, 1800);
    EXPECT_TRUE(ParseDuration("50d", &s));
    EXPECT_DOUBLE_EQ(s, 50 * 86400.0);
    EXPECT_FALSE(ParseDuration("d", &s));
    EXPECT_FALSE(ParseDuration("1000d", &s));
}

}  // namespace
}  // namespace qxr::simulation
