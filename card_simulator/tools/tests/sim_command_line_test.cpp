#include "card_simulator/tools/sim_command_line.h"

#include <gtest/gtest.h>

namespace qxr::simctl {
namespace {

struct Parsed {
    bool ok;
    SimCommand command;
    std::string error;
};

Parsed Parse(const std::vector<std::string>& args) {
    Parsed p{};
    p.ok = ParseSimCommand(args, &p.command, &p.error);
    return p;
}

TEST(SimCommandLine, NoArgumentsIsAnError) {
    const Parsed p = Parse({});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "no command given");
}

TEST(SimCommandLine, StatusOnlyAsksForNoChange) {
    const Parsed p = Parse({"status"});
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.command.help);
    EXPECT_EQ(p.command.control.apply, 0u);
    EXPECT_EQ(p.command.control.size, sizeof(QxrSimControl));
}

TEST(SimCommandLine, HelpIsRecognised) {
    for (const char* word : {"-h", "--help", "help", "/?"}) {
        const Parsed p = Parse({word});
        ASSERT_TRUE(p.ok) << word;
        EXPECT_TRUE(p.command.help) << word;
    }
}

TEST(SimCommandLine, ReferenceByNameOrBits) {
    EXPECT_EQ(Parse({"reference", "none"}).command.control.reference, 0u);
    EXPECT_EQ(Parse({"reference", "gps"}).command.control.reference, 1u);
    EXPECT_EQ(Parse({"reference", "clock"}).command.control.reference, 2u);
    const Parsed seven = Parse({"reference", "7"});
    ASSERT_TRUE(seven.ok);
    EXPECT_EQ(seven.command.control.reference, 7u);
    EXPECT_EQ(seven.command.control.apply, QXR_SIM_SET_REFERENCE);
    EXPECT_FALSE(Parse({"reference", "8"}).ok);
    EXPECT_FALSE(Parse({"reference", "GPS"}).ok);
    EXPECT_FALSE(Parse({"reference", "-1"}).ok);
}

TEST(SimCommandLine, OnOffSwitches) {
    const Parsed p = Parse({"gps", "off", "tick", "freeze", "nodata", "on"});
    ASSERT_TRUE(p.ok);
    const QxrSimControl& c = p.command.control;
    EXPECT_EQ(c.apply, QXR_SIM_SET_GPS_FITTED | QXR_SIM_SET_TICK_FROZEN | QXR_SIM_SET_NO_DATA);
    EXPECT_EQ(c.gpsFitted, 0u);
    EXPECT_EQ(c.tickFrozen, 1u);
    EXPECT_EQ(c.noData, 1u);
    EXPECT_EQ(Parse({"gps", "on"}).command.control.gpsFitted, 1u);
    EXPECT_EQ(Parse({"tick", "run"}).command.control.tickFrozen, 0u);
    EXPECT_FALSE(Parse({"gps", "yes"}).ok);
    EXPECT_FALSE(Parse({"tick", "on"}).ok);
}

TEST(SimCommandLine, OffsetInMillisecondsToHundredNanoseconds) {
    EXPECT_EQ(Parse({"offset", "1500"}).command.control.offset, 15000000);
    EXPECT_EQ(Parse({"offset", "-2.5"}).command.control.offset, -25000);
    EXPECT_EQ(Parse({"offset", "+0.0001"}).command.control.offset, 1);
    EXPECT_EQ(Parse({"offset", "0"}).command.control.offset, 0);
    EXPECT_EQ(Parse({"offset", "3155760000000"}).command.control.offset, QXR_SIM_MAX_OFFSET);
    EXPECT_EQ(Parse({"offset", "-3155760000000"}).command.control.offset, -QXR_SIM_MAX_OFFSET);
    EXPECT_EQ(Parse({"offset", "1"}).command.control.apply, QXR_SIM_SET_OFFSET);
}

TEST(SimCommandLine, MalformedOrHugeOffsetsAreRefused) {
    for (const char* bad : {"", "-", ".5", "1.", "1.23456", "1e3", "12a", "--1", "1.2.3",
                            "3155760000000.0001", "99999999999999999999999"}) {
        const Parsed p = Parse({"offset", bad});
        EXPECT_FALSE(p.ok) << bad;
        EXPECT_EQ(p.error, std::string("bad value '") + bad + "' for 'offset'");
    }
}

TEST(SimCommandLine, FailTakesAWin32ErrorOrOff) {
    const Parsed p = Parse({"fail", "1460"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.command.control.failWith, 1460u);
    EXPECT_EQ(p.command.control.apply, QXR_SIM_SET_FAIL_WITH);
    EXPECT_EQ(Parse({"fail", "off"}).command.control.failWith, 0u);
    EXPECT_TRUE(Parse({"fail", "65535"}).ok);
    EXPECT_FALSE(Parse({"fail", "0"}).ok);
    EXPECT_FALSE(Parse({"fail", "65536"}).ok);
    EXPECT_FALSE(Parse({"fail", "0x1F"}).ok);
}

TEST(SimCommandLine, ResetCombinesWithChanges) {
    const Parsed p = Parse({"reset", "reference", "clock"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.command.control.apply, QXR_SIM_RESET | QXR_SIM_SET_REFERENCE);
    EXPECT_EQ(p.command.control.reference, 2u);
}

TEST(SimCommandLine, UnknownCommandAndMissingValueAreNamed) {
    Parsed p = Parse({"refrence", "gps"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "unknown command 'refrence'");
    p = Parse({"gps", "on", "offset"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "'offset' needs a value");
}

TEST(SimCommandLine, UsageNamesEveryCommand) {
    const std::string usage = SimUsage();
    for (const char* word : {"status", "reset", "reference", "gps", "offset", "tick", "fail",
                             "nodata", "Exit status"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(usage.back(), '\n');
}

}  // namespace
}  // namespace qxr::simctl
