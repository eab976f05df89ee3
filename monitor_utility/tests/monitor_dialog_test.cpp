#include <gtest/gtest.h>

#include "monitor_test_machine.h"
#include "monitor_utility/field_colours.h"
#include "monitor_utility/field_help.h"

namespace qxr::monitor::testing {
namespace {

constexpr int64_t kSecond = 10000000;

TEST(MonitorDialogTest, InitialisationAndShow) {
    MonitorMachine m;
    auto w = m.Open();
    FakeDialog& c = w->controls;
    EXPECT_EQ(c.Text(kCardTimeField), "");
    EXPECT_EQ(c.Text(kOffsetField), "");
    EXPECT_EQ(c.Text(kPeakOffsetField), "0");
    EXPECT_EQ(c.controls[kCardTimeField].limit, 50);
    EXPECT_EQ(c.caption, "QXRSET v1.2.0.0 - Quoxar time reference card monitor");
    EXPECT_EQ(c.appIconSets, 1);
    EXPECT_FALSE(c.controls[kSetButton].enabled);
    EXPECT_FALSE(c.controls[kAdjustBox].enabled);
    EXPECT_EQ(c.controls[kDefaultButton].width, 1);
    EXPECT_TRUE(c.controls[kReferenceField].visible);
    ASSERT_EQ(c.timers.size(), 1u);
    EXPECT_EQ(c.timers[0], (std::pair<UINT, UINT>{100, 200}));
    EXPECT_EQ(c.focus, kDefaultButton);
    EXPECT_EQ(c.VisibleHeartbeat(), kHeartbeat1);
}

TEST(MonitorDialogTest, RefreshShowsBothClocksTheOffsetAndTheReference) {
    MonitorMachine m;
    m.SetCardOffset(15000000);  // the card 1.5 s ahead: the system is behind
    auto w = m.Open();
    m.Tick({w.get()});
    FakeDialog& c = w->controls;
    // True start 2026-12-07 00:00:00; 200 ms later, the system clock as of its last interrupt.
    EXPECT_EQ(c.Text(kCardTimeField), "12/07/2026  00:00:01");
    EXPECT_EQ(c.Text(kSystemTimeField), "12/07/2026  00:00:00");
    EXPECT_EQ(c.Text(kOffsetField), "-1.500");
    EXPECT_EQ(c.Text(kPeakOffsetField), "1500");
    EXPECT_EQ(c.Text(kReferenceField), "GPS");
    m.SetCardOffset(-120000);
    m.SetReference(TimeReference::None);
    m.Tick({w.get()});
    EXPECT_EQ(c.Text(kOffsetField), "+0.012");
    EXPECT_EQ(c.Text(kPeakOffsetField), "1425");
    EXPECT_EQ(c.Text(kReferenceField), "none");
}

TEST(MonitorDialogTest, HeartbeatStepsOncePerToggleAndStandsStillWithoutOne) {
    MonitorMachine m;
    auto w = m.Open();
    std::vector<int> shown;
    for (int i = 0; i < 20; ++i) {  // four card seconds
        m.Tick({w.get()});
        if (shown.empty() || shown.back() != w->controls.VisibleHeartbeat()) {
            shown.push_back(w->controls.VisibleHeartbeat());
        }
    }
    EXPECT_EQ(shown,
              (std::vector<int>{kHeartbeat2, kHeartbeat3, kHeartbeat1, kHeartbeat2, kHeartbeat3}));
    EXPECT_EQ(w->controls.controls[kHeartbeat1].width, 0);  // hidden ones have no size

    MonitorMachine frozen;
    frozen.Model().FreezeTick(true);
    auto f = frozen.Open();
    for (int i = 0; i < 20; ++i) {
        frozen.Tick({f.get()});
        EXPECT_EQ(f->controls.VisibleHeartbeat(), kHeartbeat2);
    }
    EXPECT_EQ(f->dialog->State().heartbeatStep, 1u);
}

TEST(MonitorDialogTest, ExitCodeIsZeroOnlyForADialogThatEnded) {
    EXPECT_EQ(ProgramExitCode(IDCANCEL), 0);
    EXPECT_EQ(ProgramExitCode(0), 0);
    EXPECT_NE(ProgramExitCode(-1), 0);  // the dialog could not be made
}

TEST(MonitorDialogTest, NoGpsAtStartHidesTheReferenceForGood) {
    MonitorMachine m;
    m.Model().SetGpsFitted(false);
    auto w = m.Open();
    m.Model().SetGpsFitted(true);
    for (int i = 0; i < 5; ++i) m.Tick({w.get()});
    EXPECT_FALSE(w->controls.controls[kReferenceLabel].visible);
    EXPECT_FALSE(w->controls.controls[kReferenceField].visible);
    EXPECT_EQ(w->controls.Text(kReferenceField), "GPS");  // still filled
}

uint32_t TextColour(FakeDialog& c, int id) {
    const ColourRequest request =
        c.controls[id].readOnly ? ColourRequest::kStatic : ColourRequest::kEdit;
    const FieldColours colours = ChooseFieldColours(request, true, true);
    EXPECT_TRUE(colours.custom);
    EXPECT_EQ(colours.background, Rgb(255, 250, 240));
    return colours.text;
}

TEST(MonitorDialogTest, TheCardFieldIsEditableAndGreenOnlyUnderTheOnBoardClock) {
    MonitorMachine m;
    auto w = m.Open();
    FakeDialog& c = w->controls;
    m.Tick({w.get()});
    EXPECT_TRUE(c.controls[kCardTimeField].readOnly);
    EXPECT_EQ(TextColour(c, kCardTimeField), Rgb(0, 0, 0));
    c.Click(kCardTimeField);
    EXPECT_EQ(c.focus, kDefaultButton);

    m.SetReference(TimeReference::OnBoardClock);
    m.Tick({w.get()});
    EXPECT_EQ(c.Text(kReferenceField), "Internal");
    EXPECT_FALSE(c.controls[kCardTimeField].readOnly);
    EXPECT_EQ(TextColour(c, kCardTimeField), Rgb(0, 128, 0));
    c.Click(kCardTimeField);
    EXPECT_EQ(c.focus, kCardTimeField);
    for (int id : {kSystemTimeField, kOffsetField, kPeakOffsetField, kReferenceField}) {
        c.Click(id);
        EXPECT_EQ(c.focus, kDefaultButton) << id;
        EXPECT_EQ(TextColour(c, id), Rgb(0, 0, 0));
    }
    // Labels, buttons and the box keep the default colours, and nothing without a brush.
    EXPECT_FALSE(ChooseFieldColours(ColourRequest::kStatic, false, true).custom);
    EXPECT_FALSE(ChooseFieldColours(ColourRequest::kOther, false, true).custom);
    EXPECT_FALSE(ChooseFieldColours(ColourRequest::kEdit, true, false).custom);
}

TEST(MonitorDialogTest, UnconvertibleCardTimesShowNoOffsetAndHoldThePeak) {
    MonitorMachine m;
    m.SetCardOffset(-2 * kSecond);
    auto w = m.Open();
    m.Tick({w.get()});
    EXPECT_EQ(w->controls.Text(kPeakOffsetField), "2000");
    m.card.forceSecond = 60;
    m.Tick({w.get()});
    EXPECT_EQ(w->controls.Text(kCardTimeField), "12/06/2026  23:59:60");
    EXPECT_EQ(w->controls.Text(kOffsetField), "");
    EXPECT_EQ(w->controls.Text(kPeakOffsetField), "2000");
    m.card.forceSecond = -1;
    m.Model().FailRequests(ERROR_GEN_FAILURE);
    m.Tick({w.get()});
    EXPECT_EQ(w->controls.Text(kCardTimeField), "00/00/0000  00:00:00");
    EXPECT_EQ(w->controls.Text(kOffsetField), "");
    EXPECT_EQ(w->controls.Text(kPeakOffsetField), "2000");
    EXPECT_EQ(w->controls.Text(kReferenceField), "none");
    m.Model().FailRequests(0);
    m.SetCardOffset(0);
    m.Tick({w.get()});
    EXPECT_EQ(w->controls.Text(kOffsetField), "+0.000");
    EXPECT_EQ(w->controls.Text(kPeakOffsetField), "1900");
}

TEST(FieldHelpTest, PopUpOfTheControlUnderThePointer) {
    MonitorMachine m;
    auto w = m.Open();
    FakeDialog& c = w->controls;
    c.focus = kAdjustBox;  // the focus does not matter
    const std::pair<int, int> table[] = {{kCardTimeField, 132},   {kSetButton, 133},
                                         {kSystemTimeField, 134}, {kOffsetField, 135},
                                         {kAdjustBox, 136},       {kPeakOffsetField, 137},
                                         {kReferenceField, 138},  {kHeartbeat1, 139},
                                         {kHeartbeat2, 139},      {kHeartbeat3, 139},
                                         {kReferenceLabel, 0},    {kDefaultButton, 0},
                                         {kOtherWindow, 0},       {-2, 0}};
    for (const auto& [control, popup] : table) {
        c.popups.clear();
        c.underCursor = control;
        w->dialog->OnHelp();
        EXPECT_EQ(c.popups, popup == 0 ? std::vector<int>{} : std::vector<int>{popup}) << control;
    }
    // The disabled Set button has its help; a modifier key held shows nothing.
    ASSERT_FALSE(c.controls[kSetButton].enabled);
    c.popups.clear();
    c.underCursor = kSetButton;
    c.modifierDown = true;
    w->dialog->OnHelp();
    EXPECT_TRUE(c.popups.empty());
}

TEST(FieldHelpTest, CaptionWithoutAVersionResource) {
    MonitorMachine m;
    m.pc.module.SetVersion(false, platform::FileVersion{});
    auto w = m.Open();
    EXPECT_EQ(w->controls.caption, "QXRSET - Quoxar time reference card monitor");
    m.pc.module.SetVersion(true, platform::FileVersion{65535, 2, 300, 4});
    char caption[128];
    FormatCaption(m.pc.module, caption, sizeof caption);
    EXPECT_STREQ(caption, "QXRSET v65535.2.300.4 - Quoxar time reference card monitor");
}

}  // namespace
}  // namespace qxr::monitor::testing
