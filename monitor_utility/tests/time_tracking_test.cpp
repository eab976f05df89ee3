#include <gtest/gtest.h>

#include "monitor_test_machine.h"

namespace qxr::monitor::testing {
namespace {

constexpr int64_t kSecond = 10000000;

class TimeTrackingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.SetCardOffset(3 * kTicksPerMs);  // within the slew range
        a = m.Open();
        m.Tick({a.get()});  // the box is enabled by the first refresh
    }
    // Refreshes until true time reaches `seconds`; returns the card seconds of the refreshes
    // in which the engine changed the clock.
    std::vector<int> RunUntil(int64_t seconds) {
        std::vector<int> steps;
        while (m.pc.clock.TrueTime() < Start() + seconds * kSecond) {
            const int before = m.privileges.lookups;
            m.Tick({a.get()});
            if (m.privileges.lookups != before) steps.push_back(CardSecond());
        }
        return steps;
    }
    int64_t Start() const { return sim::SimClockConfig{}.trueStart; }
    int CardSecond() { return static_cast<int>(m.CardTimeNow() / kSecond % 60); }
    bool Nominal() { return m.pc.clock.CurrentAdjustment() == m.pc.clock.TimeIncrement(); }

    MonitorMachine m;
    std::unique_ptr<MonitorMachine::Window> a;
};

TEST_F(TimeTrackingTest, CheckedAtSecondFiveStepsAtFiveSixTwelve) {
    EXPECT_TRUE(RunUntil(5).empty());
    EXPECT_TRUE(a->controls.controls[kAdjustBox].enabled);
    a->controls.Click(kAdjustBox);
    EXPECT_EQ(a->controls.focus, kDefaultButton);
    EXPECT_EQ(RunUntil(19), (std::vector<int>{5, 6, 12, 18}));
    EXPECT_FALSE(Nominal());
}

TEST_F(TimeTrackingTest, CheckedAtSecondSevenStepsAtSevenTwelveEighteen) {
    RunUntil(7);
    a->controls.Click(kAdjustBox);
    EXPECT_EQ(RunUntil(19), (std::vector<int>{7, 12, 18}));
}

TEST_F(TimeTrackingTest, CardTimesWithoutAnInstantAreNotFedToTheEngine) {
    RunUntil(1);
    a->controls.Click(kAdjustBox);
    m.card.forceSecond = 60;
    EXPECT_TRUE(RunUntil(2).empty());
    m.card.forceSecond = -1;
    m.Model().FailRequests(ERROR_GEN_FAILURE);
    EXPECT_TRUE(RunUntil(3).empty());
    m.Model().FailRequests(0);
    EXPECT_EQ(RunUntil(4), std::vector<int>{3});  // the step still due
}

TEST_F(TimeTrackingTest, ClearingHandsTheClockBackEachTime) {
    for (int round = 0; round < 2; ++round) {
        a->controls.Click(kAdjustBox);
        const int before = m.privileges.lookups;
        m.Tick({a.get()});
        EXPECT_EQ(m.privileges.lookups, before + 1);
        EXPECT_FALSE(Nominal());
        a->controls.Click(kAdjustBox);  // cleared
        EXPECT_EQ(m.privileges.lookups, before + 2);
        EXPECT_TRUE(Nominal());
        EXPECT_EQ(a->controls.focus, kDefaultButton);
    }
}

TEST_F(TimeTrackingTest, SecondDialogIsKeptOutWhileTheFirstOneCorrects) {
    a->controls.Click(kAdjustBox);
    m.Tick({a.get()});
    ASSERT_FALSE(Nominal());
    auto b = m.Open();
    EXPECT_FALSE(b->controls.controls[kAdjustBox].enabled);
    m.Tick({a.get(), b.get()});
    EXPECT_TRUE(a->controls.controls[kAdjustBox].enabled);
    EXPECT_FALSE(b->controls.controls[kAdjustBox].enabled);
    a->controls.Click(kAdjustBox);
    m.Tick({a.get(), b.get()});
    EXPECT_TRUE(b->controls.controls[kAdjustBox].enabled);
}

TEST_F(TimeTrackingTest, ClosingWithTheBoxCheckedLeavesTheNominalRate) {
    a->controls.Click(kAdjustBox);
    m.Tick({a.get()});
    ASSERT_FALSE(Nominal());
    a->dialog->OnDestroy();
    EXPECT_TRUE(Nominal());
    EXPECT_FALSE(a->dialog->HasEngine());
}

TEST_F(TimeTrackingTest, AnEndingSessionHandsTheClockBackAsClosingDoes) {
    a->controls.Click(kAdjustBox);
    m.Tick({a.get()});
    a->dialog->OnEndSession(false);  // another program refused: the session goes on
    EXPECT_FALSE(Nominal());
    a->dialog->OnEndSession(true);
    EXPECT_TRUE(Nominal());
    EXPECT_FALSE(a->dialog->HasEngine());
}

}  // namespace
}  // namespace qxr::monitor::testing
