#include <gtest/gtest.h>

#include "monitor_test_machine.h"

namespace qxr::monitor::testing {
namespace {

class CardSettingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.SetReference(TimeReference::OnBoardClock);
        w = m.Open();
        m.Tick({w.get()});
    }
    void Tick() { m.Tick({w.get()}); }
    FakeDialog& c() { return w->controls; }
    bool SetEnabled() { return c().controls[kSetButton].enabled; }
    // Types an entry and presses Set.
    void Enter(const std::string& text) {
        c().Click(kCardTimeField);
        c().Type(text);
        c().Click(kSetButton);
    }

    MonitorMachine m;
    std::unique_ptr<MonitorMachine::Window> w;
};

TEST_F(CardSettingTest, PendingEntryLastsWhileTheFocusStaysOnTheFieldOrSet) {
    c().Click(kCardTimeField);
    Tick();
    EXPECT_FALSE(SetEnabled());  // pending, but nothing typed yet
    c().Type("1/2/2003 4:5:6");
    EXPECT_TRUE(SetEnabled());
    Tick();
    EXPECT_EQ(c().Text(kCardTimeField), "1/2/2003 4:5:6");
    c().SetFocus(kSetButton);  // Tab
    c().otherProgramActive = true;
    for (int i = 0; i < 10; ++i) Tick();
    EXPECT_EQ(c().Text(kCardTimeField), "1/2/2003 4:5:6");
    EXPECT_TRUE(SetEnabled());
    c().otherProgramActive = false;
    c().Click(kOffsetField);  // passes the focus on to the default button
    EXPECT_EQ(c().focus, kDefaultButton);
    Tick();
    EXPECT_EQ(c().Text(kCardTimeField), "12/07/2026  00:00:02");
    EXPECT_FALSE(SetEnabled());
    EXPECT_EQ(m.card.requests.size(), 0u);
}

TEST_F(CardSettingTest, WellFormedEntrySetsTheCard) {
    Enter("1/2/2003 4:5:6");
    ASSERT_EQ(m.card.results, std::vector<uint32_t>{0});
    EXPECT_EQ(c().focus, kDefaultButton);
    EXPECT_FALSE(SetEnabled());
    Tick();
    EXPECT_EQ(c().Text(kCardTimeField), "01/02/2003  04:05:06");
    EXPECT_TRUE(c().beeps.empty());
}

TEST_F(CardSettingTest, WellFormedButRejectedEntriesLeaveTheCardSilently) {
    for (const char* text :
         {"2003/12/31 10:00:00", "12/31/03 10:00:00", "99999999999999/1/2003 1:2:3",
          "1/2/2003 1:2:-99999999999999", "1/2/2003 24:0:0"}) {
        Enter(text);
    }
    EXPECT_EQ(m.card.results, std::vector<uint32_t>(5, ERROR_INVALID_DATA));
    EXPECT_EQ(m.Model().SetTimeCount(), 0u);
    EXPECT_TRUE(c().beeps.empty());
    Tick();
    EXPECT_EQ(c().Text(kCardTimeField), "12/07/2026  00:00:00");
}

TEST_F(CardSettingTest, MalformedEntryBeepsAndSendsNothing) {
    for (const char* text : {"12-31-2003 23:59:59", "12/31/2003 23:59", "/1/2003 1:2:3", " "}) {
        Enter(text);
        EXPECT_EQ(c().focus, kCardTimeField) << text;
        EXPECT_FALSE(SetEnabled()) << text;
        EXPECT_EQ(c().Text(kCardTimeField), text);
    }
    EXPECT_EQ(c().beeps, std::vector<UINT>(4, 0x30u));
    EXPECT_TRUE(m.card.requests.empty());
    Tick();
    EXPECT_EQ(c().Text(kCardTimeField), " ");  // still pending for correction
}

TEST_F(CardSettingTest, BlankEntrySetsTheNextWholeSecond) {
    m.SetCardOffset(-3600 * 10000000LL);  // an hour behind
    m.pc.clock.Advance(350 * kTicksPerMs);
    Enter("");
    // Set 1 ms into the next whole second of the system clock, to that second.
    EXPECT_EQ(m.pc.clock.TrueTime() % 10000000, 1 * kTicksPerMs);
    ASSERT_EQ(m.card.requests.size(), 1u);
    const CardTime& r = m.card.requests[0];
    EXPECT_EQ((std::vector<int32_t>{r.year, r.month, r.day, r.hour, r.minute, r.second}),
              (std::vector<int32_t>{2026, 12, 7, 0, 0, 1}));
    EXPECT_EQ(m.card.results[0], 0u);
    const int64_t cardMinusTrue = m.CardTimeNow() - m.pc.clock.TrueTime();
    EXPECT_LE(cardMinusTrue, 0);
    EXPECT_GT(cardMinusTrue, -2 * kTicksPerMs);
}

TEST_F(CardSettingTest, UnderGpsTheFieldCannotTakeAnEntry) {
    m.SetReference(TimeReference::Gps);
    Tick();
    c().Click(kCardTimeField);
    EXPECT_EQ(c().focus, kDefaultButton);
    c().Type("1/2/2003 4:5:6");
    EXPECT_FALSE(SetEnabled());
}

}  // namespace
}  // namespace qxr::monitor::testing
