// QxrSet's 200 ms refresh with faults injected: the driver stopped and started again between
// two refreshes, between the status and the time read and after the time read, stopped for a
// while, failing, empty and short replies. One table row each, with what the faulty refresh
// shows (reference and card time) and the requirement that a later refresh shows live values
// again; every row also runs with the system clock tracked and checks that closing the
// dialog hands the clock back, the priorities are restored and the device handle is closed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "card_access/qxr_requests.h"
#include "monitor_test_machine.h"

namespace qxr::monitor::testing {
namespace {

constexpr char kZeros[] = "00/00/0000  00:00:00";

class HookedCard : public card_access::CardClient {
  public:
    explicit HookedCard(card_access::CardClient& inner) : inner_(inner) {}
    uint32_t GetHwStatus(CardStatus* status) override {
        const uint32_t result = inner_.GetHwStatus(status);
        Run(afterStatus);
        return result;
    }
    uint32_t GetTime(CardTime* time) override {
        const uint32_t result = inner_.GetTime(time);
        Run(afterTime);
        return result;
    }
    uint32_t SetTime(const CardTime* time) override { return inner_.SetTime(time); }
    std::function<void()> afterStatus, afterTime;  // each runs once

  private:
    static void Run(std::function<void()>& hook) {
        if (!hook) return;
        const std::function<void()> once = std::move(hook);
        hook = nullptr;
        once();
    }
    card_access::CardClient& inner_;
};

class ShortReplies : public platform::DeviceIo {
  public:
    explicit ShortReplies(platform::DeviceIo& inner) : inner_(inner) {}
    HANDLE CreateFileA(LPCSTR n, DWORD a, DWORD s, DWORD d, DWORD f) override {
        return inner_.CreateFileA(n, a, s, d, f);
    }
    BOOL DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                         LPDWORD returned) override {
        const BOOL ok = inner_.DeviceIoControl(h, code, in, inSize, out, outSize, returned);
        if (ok && maxReply > 0 && *returned > maxReply) {
            std::memset(static_cast<uint8_t*>(out) + maxReply, 0, *returned - maxReply);
            *returned = maxReply;
        }
        return ok;
    }
    BOOL CloseHandle(HANDLE h) override { return inner_.CloseHandle(h); }
    DWORD maxReply = 0;

  private:
    platform::DeviceIo& inner_;
};

struct Bench {
    Bench()
        : pc(MonitorMachine::Config()),
          replies(pc.device),
          library(std::make_unique<card_access::CardLibrary>(replies)),
          client(*library),
          card(client) {
        dialog = std::make_unique<MonitorDialog>(pc.ports, card, controls);
        controls.Attach(dialog.get());
        dialog->OnInitDialog();
        dialog->OnShow();
    }
    void Refresh() {
        pc.clock.Advance(200 * kTicksPerMs);
        dialog->OnTimer();
    }
    void RestartDriver() {
        pc.device.Stop();
        pc.device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
    }
    bool Live() {
        return controls.Text(kReferenceField) == "GPS" &&
               controls.Text(kCardTimeField).rfind("12/07/2026  ", 0) == 0 &&
               !controls.Text(kOffsetField).empty();
    }

    sim::SimMachine pc;
    ShortReplies replies;
    std::unique_ptr<card_access::CardLibrary> library;
    card_access::LibraryCardClient client;
    HookedCard card;
    FakeDialog controls;
    std::unique_ptr<MonitorDialog> dialog;
};

struct Row {
    const char* name;
    std::function<void(Bench&)> inject;  // just before the faulty refresh
    std::function<void(Bench&)> repair;  // after it ("" = nothing to repair)
    const char* reference;               // shown by the faulty refresh
    const char* cardTime;                // "" = a live card time
    int refreshesToLive;                 // after the repair, until all is live again
};

TEST(RefreshFaultInjection, Table) {
    const auto nothing = [](Bench&) {};
    const Row rows[] = {
        {"driver restarted between two refreshes", [](Bench& b) { b.RestartDriver(); }, nothing,
         "none", "", 1},
        {"driver restarted between the status and the time read",
         [](Bench& b) { b.card.afterStatus = [&b] { b.RestartDriver(); }; }, nothing, "GPS", kZeros,
         1},
        {"driver restarted after the time read",
         [](Bench& b) { b.card.afterTime = [&b] { b.RestartDriver(); }; }, nothing, "GPS", "", 2},
        {"driver stopped for a while", [](Bench& b) { b.pc.device.Stop(); },
         [](Bench& b) {
             b.pc.device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
         },
         "none", kZeros, 1},
        {"every request fails",
         [](Bench& b) { b.pc.device.Model().FailRequests(ERROR_GEN_FAILURE); },
         [](Bench& b) { b.pc.device.Model().FailRequests(0); }, "none", kZeros, 1},
        {"every reply empty", [](Bench& b) { b.pc.device.Model().ReturnNoData(true); },
         [](Bench& b) { b.pc.device.Model().ReturnNoData(false); }, "none", kZeros, 1},
        {"replies cut to 12 bytes", [](Bench& b) { b.replies.maxReply = 12; },
         [](Bench& b) { b.replies.maxReply = 0; }, "GPS", "", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b;
        for (int i = 0; i < 10; ++i) b.Refresh();
        ASSERT_TRUE(b.Live());
        // The system clock tracked, so that closing must hand a correction back.
        b.controls.Click(kAdjustBox);
        ASSERT_TRUE(b.controls.controls[kAdjustBox].checked);
        for (int i = 0; i < 60; ++i) b.Refresh();

        row.inject(b);
        b.Refresh();
        const std::string reference = b.controls.Text(kReferenceField);
        const std::string cardTime = b.controls.Text(kCardTimeField);
        row.repair(b);
        int refreshes = 0;
        do {
            b.Refresh();
            ++refreshes;
        } while (!b.Live() && refreshes < 10);
        std::printf(
            "fault row (QxrSet refresh) %s: showed \"%s\" and \"%s\", live again after "
            "%d refreshes\n",
            row.name, reference.c_str(), cardTime.c_str(), refreshes);
        EXPECT_EQ(reference, row.reference);
        if (row.cardTime[0] == '\0') {
            EXPECT_EQ(cardTime.rfind("12/07/2026  ", 0), 0u) << cardTime;
        } else {
            EXPECT_EQ(cardTime, row.cardTime);
        }
        EXPECT_EQ(refreshes, row.refreshesToLive);
        EXPECT_LE(b.pc.device.OpenHandles(), 1);
        EXPECT_EQ(b.pc.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));

        b.dialog->OnDestroy();
        b.dialog.reset();
        b.library.reset();
        EXPECT_TRUE(b.pc.clock.AdjustmentDisabled() ||
                    b.pc.clock.CurrentAdjustment() == b.pc.clock.TimeIncrement());
        EXPECT_EQ(b.pc.device.OpenHandles(), 0);
        EXPECT_EQ(b.pc.process.OpenTokenCount(), 0);
    }
}

}  // namespace
}  // namespace qxr::monitor::testing
