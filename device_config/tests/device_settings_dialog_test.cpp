// DeviceSettingsDialog on the simulated PC: what the lists show for stored settings, when OK
// is possible, what OK writes, and the driver restart with its stop wait in virtual time.
#include "device_config/device_settings_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "device_config/device_settings_ids.h"

namespace qxr::device_config {
namespace {

const HANDLE kWindow = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0xD1A1));

class FakeDialog : public DialogPort {
  public:
    HANDLE Window() override { return kWindow; }
    void SetIcons() override { ++iconsSet; }
    void AddListEntry(int control, const char* text) override { entries[control].push_back(text); }
    int GetSelection(int control) override {
        const auto it = selection.find(control);
        return it == selection.end() ? -1 : it->second;
    }
    void SetSelection(int control, int index) override {
        // As CB_SETCURSEL: an index outside the list leaves no selection.
        const int count = static_cast<int>(entries[control].size());
        selection[control] = index >= 0 && index < count ? index : -1;
    }
    void EnableControl(int control, bool enable) override { enabled[control] = enable; }
    void PostClose() override { ++closesPosted; }
    void EndDialog(int result) override { endResult = result; }

    std::map<int, std::vector<std::string>> entries;
    std::map<int, int> selection;
    std::map<int, bool> enabled;
    int iconsSet = 0;
    int closesPosted = 0;
    int endResult = -1;
};

// The simulated PC with the driver service running and the dialog on a fake window.
struct Bench {
    explicit Bench(const sim::SimClockConfig& clock = sim::SimClockConfig{})
        : pc(Config(clock)), dialog(pc.ports, window), start(pc.clock.TrueTime()) {
        sim::SimService driver;
        driver.name = kDriverServiceName;
        driver.serviceType = SERVICE_KERNEL_DRIVER;
        driver.startType = SERVICE_AUTO_START;
        driver.state = SERVICE_RUNNING;
        pc.services.AddService(driver);
        pc.registry.SetJournal(&journal);
        pc.services.SetJournal(&journal);
    }
    static sim::SimMachineConfig Config(const sim::SimClockConfig& clock) {
        sim::SimMachineConfig config;
        config.clock = clock;
        return config;
    }

    void Store(DWORD bus, DWORD port, DWORD irq) {
        pc.registry.SetDword(kParametersKey, kBusTypeValue, bus);
        pc.registry.SetDword(kParametersKey, kIoPortValue, port);
        pc.registry.SetDword(kParametersKey, kIrqValue, irq);
    }
    void Open() { dialog.InitDialog(); }
    void ChooseBus(int index) {
        window.selection[IDC_BUS_LIST] = index;
        dialog.OnBusSelected();
    }
    void ChooseIrq(int index) {
        window.selection[IDC_IRQ_LIST] = index;
        dialog.OnInterruptSelected();
    }
    std::vector<DWORD> Stored() const {
        std::vector<DWORD> out;
        for (const char* name : {kBusTypeValue, kIoPortValue, kIrqValue}) {
            DWORD value = 0xDEAD;
            pc.registry.GetDword(kParametersKey, name, &value);
            out.push_back(value);
        }
        return out;
    }
    int64_t Ms(int64_t trueTime) const { return (trueTime - start) / 10000; }
    sim::SimService Driver() const {
        sim::SimService service;
        pc.services.GetService(kDriverServiceName, &service);
        return service;
    }
    std::vector<std::string> ServiceCalls() const {
        std::vector<std::string> out;
        for (const std::string& entry : journal.Entries()) {
            if (entry.rfind("Reg", 0) != 0) out.push_back(entry);
        }
        return out;
    }

    sim::SimMachine pc;
    FakeDialog window;
    DeviceSettingsDialog dialog;
    sim::SimJournal journal;
    int64_t start;
};

TEST(DeviceSettingsDialogTest, ListsHoldTheirEntriesUnsortedAndIconsAreSet) {
    Bench b;
    b.Store(1, 0x300, 5);
    b.Open();
    EXPECT_EQ(
        b.window.entries[IDC_BUS_LIST],
        (std::vector<std::string>{"PCI - Auto", "ISA - 300", "ISA - 310", "ISA - 320", "ISA - 330",
                                  "ISA - 340", "ISA - 350", "ISA - 360", "ISA - 370"}));
    EXPECT_EQ(b.window.entries[IDC_IRQ_LIST],
              (std::vector<std::string>{" 5", " 7", "10", "11", "12", "15"}));
    EXPECT_EQ(b.window.iconsSet, 1);
    EXPECT_EQ(b.pc.registry.KeyAccesses().back().access, static_cast<REGSAM>(KEY_QUERY_VALUE));
    EXPECT_EQ(b.pc.registry.OpenHandleCount(), 0);
}

TEST(DeviceSettingsDialogTest, StoredIsaPortSelectsEntryByTruncatedIndex) {
    const struct {
        DWORD port;
        int entry;
        bool ok;
    } cases[] = {{0x300, 1, true},   {0x305, 1, true},   {0x2F8, 1, false},
                 {0x37F, 8, false},  {0x370, 8, true},   {0x2F0, 0, false},
                 {0x380, -1, false}, {0x2E0, -1, false}, {0x80000000u, -1, false}};
    for (const auto& c : cases) {
        Bench b;
        b.Store(1, c.port, 10);
        b.Open();
        EXPECT_EQ(b.window.selection[IDC_BUS_LIST], c.entry) << std::hex << c.port;
        EXPECT_EQ(b.window.selection[IDC_IRQ_LIST], 2) << std::hex << c.port;
        EXPECT_EQ(b.window.enabled[IDOK], c.ok) << std::hex << c.port;
        EXPECT_EQ(b.dialog.BusType(), 1) << "showing PCI does not make it PCI";
    }
}

TEST(DeviceSettingsDialogTest, OkFollowsTheRangesNotTheListEntries) {
    const struct {
        DWORD bus, port, irq;
        bool ok;
        int irqEntry;
        bool irqEnabled;
    } cases[] = {
        {1, 0x300, 9, true, -1, true},   {1, 0x300, 15, true, 5, true},
        {1, 0x300, 4, false, -1, true},  {1, 0x300, 16, false, -1, true},
        {2, 0x999, 99, true, -1, false}, {3, 0x300, 5, false, -1, false},
        {0, 0x300, 5, false, -1, false},
    };
    for (const auto& c : cases) {
        Bench b;
        b.Store(c.bus, c.port, c.irq);
        b.Open();
        EXPECT_EQ(b.window.enabled[IDOK], c.ok) << c.bus << " " << c.irq;
        EXPECT_EQ(b.window.selection[IDC_IRQ_LIST], c.irqEntry) << c.bus << " " << c.irq;
        EXPECT_EQ(b.window.enabled[IDC_IRQ_LIST], c.irqEnabled) << c.bus;
        EXPECT_EQ(b.window.enabled[IDC_IRQ_LABEL], c.irqEnabled) << c.bus;
    }
}

TEST(DeviceSettingsDialogTest, ChoosingTheEntryAlreadyShownCountsAsAChange) {
    Bench b;
    b.Store(1, 0x325, 10);
    b.Open();
    ASSERT_EQ(b.window.selection[IDC_BUS_LIST], 3);
    b.ChooseBus(3);
    b.dialog.ApplySettings();
    EXPECT_EQ(b.Stored(), (std::vector<DWORD>{1, 0x320, 10}));
    EXPECT_EQ(b.Driver().startCount, 1);
}

TEST(DeviceSettingsDialogTest, PciKeepsTheInterruptAndIsaWaitsForOne) {
    Bench b;
    b.Store(1, 0x320, 10);
    b.Open();
    b.ChooseBus(0);
    EXPECT_EQ(b.window.selection[IDC_IRQ_LIST], -1);
    EXPECT_FALSE(b.window.enabled[IDC_IRQ_LIST]);
    EXPECT_FALSE(b.window.enabled[IDC_IRQ_LABEL]);
    EXPECT_EQ(b.window.selection[IDC_BUS_LIST], 0);
    b.dialog.ApplySettings();
    EXPECT_EQ(b.Stored(), (std::vector<DWORD>{2, 0, 10}));

    Bench pci;
    pci.Store(2, 0, 0);
    pci.Open();
    pci.ChooseBus(1);
    EXPECT_TRUE(pci.window.enabled[IDC_IRQ_LIST]);
    EXPECT_EQ(pci.window.selection[IDC_IRQ_LIST], -1);
    EXPECT_FALSE(pci.window.enabled[IDOK]);
    pci.ChooseIrq(3);
    EXPECT_TRUE(pci.window.enabled[IDOK]);
    pci.ChooseIrq(-1);
    EXPECT_EQ(pci.dialog.Irq(), 0);
    EXPECT_FALSE(pci.window.enabled[IDOK]);
    pci.ChooseIrq(5);
    pci.dialog.ApplySettings();
    EXPECT_EQ(pci.Stored(), (std::vector<DWORD>{1, 0x300, 15}));
}

TEST(DeviceSettingsDialogTest, NoChangeMeansNoWriteAndNoRestart) {
    Bench b;
    b.Store(1, 0x320, 10);
    b.Open();
    b.ChooseBus(0);
    b.ChooseBus(3);  // back to what was stored
    b.dialog.ApplySettings();
    EXPECT_EQ(b.window.endResult, IDOK);
    EXPECT_EQ(b.pc.registry.SetValueCount(), 0);
    EXPECT_TRUE(b.ServiceCalls().empty());
}

TEST(DeviceSettingsDialogTest, MissingKeyShowsTheMessageAndClosesWithoutWriting) {
    Bench b;
    b.Open();
    const std::vector<sim::SimMessageBox> boxes = b.pc.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "QxrDrv driver not installed or improperly installed.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONHAND));
    EXPECT_EQ(boxes[0].owner, kWindow);
    EXPECT_EQ(b.window.closesPosted, 1);
    EXPECT_EQ(b.window.endResult, -1) << "closes through its message loop, as cancelled";
    EXPECT_FALSE(b.window.enabled[IDOK]);
    EXPECT_FALSE(b.pc.registry.HasKey(kParametersKey));
    EXPECT_EQ(b.pc.registry.SetValueCount(), 0);
}

TEST(DeviceSettingsDialogTest, ValuesShorterThanFourBytesAreZeroExtendedLongerOnesIgnored) {
    Bench b;
    b.pc.registry.SetValue(kParametersKey, kBusTypeValue, REG_BINARY, {0x01});
    b.pc.registry.SetValue(kParametersKey, kIoPortValue, REG_BINARY, {0x40, 0x03});
    b.pc.registry.SetValue(kParametersKey, kIrqValue, REG_DWORD, {0x0B, 0, 0, 0, 0});
    b.Open();
    EXPECT_EQ(b.dialog.BusType(), 1);
    EXPECT_EQ(b.dialog.IoPort(), 0x340);
    EXPECT_EQ(b.dialog.Irq(), 0);
    EXPECT_EQ(b.window.selection[IDC_BUS_LIST], 5);
}

TEST(DeviceSettingsDialogTest, AFailingWriteIsShownAndTheDriverIsNotRestarted) {
    Bench b;
    b.Store(1, 0x320, 10);
    b.Open();
    b.pc.registry.FailOperation(sim::SimRegistry::kSetValue, kParametersKey, ERROR_ACCESS_DENIED,
                                kIoPortValue);
    b.ChooseBus(4);
    b.ChooseIrq(3);
    b.dialog.ApplySettings();
    EXPECT_EQ(b.Stored(), (std::vector<DWORD>{1, 0x320, 11}));  // the others still written
    EXPECT_TRUE(b.ServiceCalls().empty());
    const std::vector<sim::SimMessageBox> boxes = b.pc.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Unable to save the setting \"I/O Port\": the driver was not restarted.\n\n"
              "Access is denied.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONHAND));
    EXPECT_EQ(b.pc.registry.OpenHandleCount(), 0);
    EXPECT_EQ(b.window.endResult, IDOK);
}

TEST(DeviceSettingsDialogTest, WritesInOrderThenStopsAndStartsTheDriver) {
    Bench b;
    b.Store(1, 0x320, 10);
    b.Open();
    b.ChooseBus(0);
    b.dialog.ApplySettings();
    const std::string key = "RegSetValue system\\currentcontrolset\\services\\qxrdrv\\parameters\\";
    EXPECT_EQ(
        b.journal.Entries(),
        (std::vector<std::string>{key + "quoxar product", key + "i/o port", key + "interrupt (irq)",
                                  "ControlService QxrDrv 1", "StartService QxrDrv"}));
    EXPECT_EQ(b.pc.registry.KeyAccesses().back().access, static_cast<REGSAM>(KEY_SET_VALUE));
    EXPECT_EQ(b.Driver().state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(b.pc.messageBoxes.Boxes().empty());
    EXPECT_EQ(b.Ms(b.pc.clock.TrueTime()), 0);
    EXPECT_EQ(b.pc.services.OpenHandleCount(), 0);
    EXPECT_EQ(b.window.endResult, IDOK);
}

TEST(DeviceSettingsDialogTest, DriverNotRunningIsStartedAfterOnePoll) {
    Bench b;
    b.pc.services.SetState(kDriverServiceName, SERVICE_STOPPED);
    b.Store(1, 0x320, 10);
    b.Open();
    b.ChooseBus(0);
    b.dialog.ApplySettings();
    EXPECT_EQ(b.Ms(b.pc.clock.TrueTime()), 100);
    EXPECT_EQ(b.Driver().startCount, 1);
    EXPECT_TRUE(b.pc.messageBoxes.Boxes().empty());
}

TEST(DeviceSettingsDialogTest, DriverStoppingLateEndsTheWaitWithoutMessage) {
    Bench b;
    b.pc.services.SetRefusesStop(kDriverServiceName, true);
    b.pc.clock.AddAdvanceListener([&b] {
        if (b.Ms(b.pc.clock.TrueTime()) >= 3000) b.pc.services.SetState(kDriverServiceName, 1);
    });
    b.Store(1, 0x320, 10);
    b.Open();
    b.ChooseBus(0);
    b.dialog.ApplySettings();
    EXPECT_EQ(b.Ms(b.pc.clock.TrueTime()), 3100);
    EXPECT_EQ(b.Driver().startCount, 1);
    EXPECT_TRUE(b.pc.messageBoxes.Boxes().empty());
}

// The wait's deadline across a wrap of the 32-bit tick counter as well as without one.
TEST(DeviceSettingsDialogTest, DriverThatNeverStopsGetsTheMessageAfterTenSeconds) {
    for (const uint64_t uptimeMs : {uint64_t{3600000}, (uint64_t{1} << 32) - 4000}) {
        sim::SimClockConfig clock;
        clock.uptimeMs = uptimeMs;
        Bench b(clock);
        b.pc.services.SetRefusesStop(kDriverServiceName, true);
        b.Store(1, 0x320, 10);
        b.Open();
        b.ChooseBus(0);
        b.dialog.ApplySettings();
        const std::vector<sim::SimMessageBox> boxes = b.pc.messageBoxes.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << uptimeMs;
        EXPECT_EQ(boxes[0].text, "Unable to stop driver");
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONHAND));
        EXPECT_EQ(boxes[0].owner, kWindow);
        EXPECT_GE(b.Ms(boxes[0].shownAt), 10000) << uptimeMs;
        EXPECT_LE(b.Ms(boxes[0].shownAt), 10100) << uptimeMs;
        EXPECT_EQ(b.Driver().startRequests, 1) << "the start is still sent";
        EXPECT_EQ(b.Stored(), (std::vector<DWORD>{2, 0, 10}));
        EXPECT_EQ(b.window.endResult, IDOK);
    }
}

TEST(DeviceSettingsDialogTest, WhatCannotBeOpenedAtOkIsShownAndEndsTheDialog) {
    Bench noWrite;
    noWrite.Store(1, 0x320, 10);
    noWrite.Open();
    noWrite.ChooseBus(0);
    noWrite.pc.registry.FailOperation(sim::SimRegistry::kOpenKey, kParametersKey,
                                      ERROR_ACCESS_DENIED);
    noWrite.dialog.ApplySettings();
    EXPECT_EQ(noWrite.Stored(), (std::vector<DWORD>{1, 0x320, 10}));
    EXPECT_TRUE(noWrite.ServiceCalls().empty());
    ASSERT_EQ(noWrite.pc.messageBoxes.Boxes().size(), 1u);
    EXPECT_EQ(noWrite.pc.messageBoxes.Boxes()[0].text,
              std::string(kKeyNotWritableText) + "\n\nAccess is denied.");
    EXPECT_EQ(noWrite.window.endResult, IDOK);

    for (const auto call :
         {sim::SimServiceManager::kOpenSCManager, sim::SimServiceManager::kOpenService}) {
        Bench b;
        b.Store(1, 0x320, 10);
        b.Open();
        b.ChooseBus(0);
        b.pc.services.FailCall(call, ERROR_SERVICE_DOES_NOT_EXIST);
        b.dialog.ApplySettings();
        EXPECT_EQ(b.Stored(), (std::vector<DWORD>{2, 0, 10}));
        EXPECT_TRUE(b.ServiceCalls().empty());
        ASSERT_EQ(b.pc.messageBoxes.Boxes().size(), 1u);
        EXPECT_EQ(b.pc.messageBoxes.Boxes()[0].text,
                  std::string(kNotRestartedText) +
                      "\n\nThe specified service does not exist as an installed service.");
        EXPECT_EQ(b.pc.services.OpenHandleCount(), 0);
        EXPECT_EQ(b.window.endResult, IDOK);
    }
}

}  // namespace
}  // namespace qxr::device_config
