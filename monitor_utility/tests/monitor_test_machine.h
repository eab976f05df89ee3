// The monitor dialog on a simulated PC: a fake dialog that keeps each control's state and
// reports focus and text changes back to the dialog as Windows does, the simulated card
// behind the card library, and a count of the engine's privilege requests (one per clock
// change it makes).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "card_access/card_library.h"
#include "card_access/library_card_client.h"
#include "card_simulator/sim_machine.h"
#include "monitor_utility/dialog_controls.h"
#include "monitor_utility/monitor_dialog.h"

namespace qxr::monitor::testing {

inline constexpr int64_t kTicksPerMs = 10000;

struct FakeControl {
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool readOnly = false;
    bool checked = false;
    int limit = 0;
    int width = 20;
    int height = 20;
};

class FakeDialog : public DialogControls {
  public:
    FakeDialog() {
        for (int id : {kCardTimeField, kSetButton, kDefaultButton, kAdjustBox, kSystemTimeField,
                       kOffsetField, kPeakOffsetField, kReferenceField, kReferenceLabel,
                       kHeartbeat1, kHeartbeat2, kHeartbeat3}) {
            controls[id] = FakeControl{};
        }
        for (int id : {kSystemTimeField, kOffsetField, kPeakOffsetField, kReferenceField}) {
            controls[id].readOnly = true;
        }
        zOrder = {kHeartbeat1, kHeartbeat2, kHeartbeat3};  // top first
    }
    void Attach(MonitorDialog* dialog) { dialog_ = dialog; }

    void SetDlgItemTextA(int id, const char* text) override {
        controls[id].text = text;
        if (id == kCardTimeField && dialog_ != nullptr) dialog_->OnCardTextChanged();
    }
    UINT GetDlgItemTextA(int id, char* buffer, int size) override {
        const std::string& text = controls[id].text;
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        text.copy(buffer, n);
        buffer[n] = '\0';
        return static_cast<UINT>(n);
    }
    void LimitText(int id, int limit) override { controls[id].limit = limit; }
    void EnableWindow(int id, bool enable) override { controls[id].enabled = enable; }
    void ShowWindow(int id, bool show) override { controls[id].visible = show; }
    void SetWindowPos(int id, int width, int height, ZOrder order) override {
        controls[id].width = width;
        controls[id].height = height;
        if (order == ZOrder::kUnchanged) return;
        zOrder.erase(std::remove(zOrder.begin(), zOrder.end(), id), zOrder.end());
        if (order == ZOrder::kTop) {
            zOrder.insert(zOrder.begin(), id);
        } else {
            zOrder.push_back(id);
        }
    }
    void SetReadOnly(int id, bool readOnly) override { controls[id].readOnly = readOnly; }
    bool IsReadOnly(int id) override { return controls[id].readOnly; }
    bool IsChecked(int id) override { return controls[id].checked; }
    int GetFocus() override { return otherProgramActive ? kNoFocusWindow : focus; }
    void SetFocus(int id) override {
        focus = id;
        if (dialog_ != nullptr) dialog_->OnFocus(id);
    }
    void SetCaption(const char* text) override { caption = text; }
    void SetAppIcon() override { ++appIconSets; }
    void SetTimer(UINT id, UINT periodMs) override { timers.push_back({id, periodMs}); }
    void MessageBeep(UINT type) override { beeps.push_back(type); }
    bool ModifierKeyDown() override { return modifierDown; }
    int ChildAtCursor() override { return underCursor; }
    void ShowHelpPopup(int templateId) override { popups.push_back(templateId); }

    // The operator's actions.
    void Click(int id) {
        if (id == kAdjustBox) {
            if (!controls[id].enabled) return;
            controls[id].checked = !controls[id].checked;
            SetFocus(id);
            dialog_->OnAdjustClicked();
        } else if (id == kSetButton) {
            if (!controls[id].enabled) return;
            SetFocus(id);
            dialog_->OnSetClicked();
        } else {
            SetFocus(id);
        }
    }
    // Replaces the field's text as typing would (only where the field has the focus).
    void Type(const std::string& text) {
        if (focus != kCardTimeField || controls[kCardTimeField].readOnly) return;
        controls[kCardTimeField].text = text;
        dialog_->OnCardTextChanged();
    }
    // The heartbeat icon that can be seen: the topmost with a size.
    int VisibleHeartbeat() const {
        for (int id : zOrder) {
            if (controls.at(id).width > 0) return id;
        }
        return 0;
    }
    const std::string& Text(int id) { return controls[id].text; }

    std::map<int, FakeControl> controls;
    std::vector<int> zOrder;
    int focus = kOtherWindow;
    bool otherProgramActive = false;
    std::string caption;
    int appIconSets = 0;
    std::vector<std::pair<UINT, UINT>> timers;
    std::vector<UINT> beeps;
    bool modifierDown = false;
    int underCursor = kOtherWindow;
    std::vector<int> popups;

  private:
    MonitorDialog* dialog_ = nullptr;
};

// Counts the privilege look-ups: the engine makes one for every change of the clock it makes
// (an update while adjustment is available, a stop of its own correction).
class CountingPrivileges : public platform::TokenPrivileges {
  public:
    explicit CountingPrivileges(platform::TokenPrivileges& inner) : inner_(inner) {}
    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override {
        return inner_.OpenProcessToken(process, access, token);
    }
    BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) override {
        ++lookups;
        return inner_.LookupPrivilegeValueA(systemName, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                               DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                               DWORD* returnLength) override {
        return inner_.AdjustTokenPrivileges(token, disableAll, newState, bufferLength,
                                            previousState, returnLength);
    }
    BOOL CloseHandle(HANDLE token) override { return inner_.CloseHandle(token); }
    int lookups = 0;

  private:
    platform::TokenPrivileges& inner_;
};

// The library's card, with a way to hand the dialog a card time of the test's choosing, and a
// count of the set requests it passes on.
class TestCard : public card_access::CardClient {
  public:
    explicit TestCard(card_access::CardLibrary& library) : inner_(library) {}
    uint32_t GetHwStatus(CardStatus* status) override { return inner_.GetHwStatus(status); }
    uint32_t GetTime(CardTime* time) override {
        const uint32_t result = inner_.GetTime(time);
        if (forceSecond >= 0) time->second = forceSecond;
        return result;
    }
    uint32_t SetTime(const CardTime* time) override {
        requests.push_back(*time);
        results.push_back(inner_.SetTime(time));
        return results.back();
    }
    int32_t forceSecond = -1;
    std::vector<CardTime> requests;
    std::vector<uint32_t> results;

  private:
    card_access::LibraryCardClient inner_;
};

// One simulated PC with its card; dialogs are made on it with Open().
class MonitorMachine {
  public:
    MonitorMachine()
        : pc(Config()),
          library(pc.device),
          card(library),
          privileges(pc.process),
          ports{pc.device,  pc.clock,   pc.clock,        pc.clock,    pc.process,
                privileges, pc.process, pc.registry,     pc.services, pc.eventLog,
                pc.debug,   pc.threads, pc.messageBoxes, pc.module} {
        pc.module.SetVersion(true, platform::FileVersion{1, 2, 0, 0});
    }

    // The simulated card (the only place the tests reach its model).
    card::CardModel& Model() { return pc.device.Model(); }
    void SetReference(TimeReference reference) {
        Model().SetReference(static_cast<uint32_t>(reference));
    }
    // Card minus true time.
    void SetCardOffset(int64_t ticks) { Model().SetOffset(ticks); }
    int64_t CardTimeNow() { return Model().CardTimeAt(pc.device.Sample()); }

    struct Window {
        FakeDialog controls;
        std::unique_ptr<MonitorDialog> dialog;
    };
    // Constructs, initialises and shows a dialog.
    std::unique_ptr<Window> Open() {
        auto window = std::make_unique<Window>();
        window->dialog = std::make_unique<MonitorDialog>(ports, card, window->controls);
        window->controls.Attach(window->dialog.get());
        window->dialog->OnInitDialog();
        window->dialog->OnShow();
        return window;
    }
    // 200 ms of time, then a refresh of each dialog.
    void Tick(std::initializer_list<Window*> windows) {
        pc.clock.Advance(200 * kTicksPerMs);
        for (Window* w : windows) w->dialog->OnTimer();
    }

    // A 10-ms clock tick, so that every 200-ms refresh falls on a whole number of ticks.
    static sim::SimMachineConfig Config() {
        sim::SimMachineConfig config;
        config.clock.timeIncrement = 100000;
        config.programPath = "C:\\Program Files\\Quoxar\\QxrSet.exe";
        return config;
    }

    sim::SimMachine pc;
    card_access::CardLibrary library;
    TestCard card;
    CountingPrivileges privileges;
    platform::Platform ports;
};

}  // namespace qxr::monitor::testing
