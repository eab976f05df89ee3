// QxrCfgNT against failing registry reads and writes, a service manager that refuses each
// call of the driver restart, a driver that will not stop, and the tick counter wrapping
// inside the stop wait: one table row each, from opening the dialog to OK with a new choice
// (PCI), unless the dialog has closed itself. Each row states the message shown (what failed
// and the system's reason), the values stored afterwards and what became of the driver; every row
// ends the dialog and leaves no key or service handle open.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "device_config/device_settings_dialog.h"
#include "device_config/device_settings_ids.h"

namespace qxr::device_config {
namespace {

class QuietDialog : public DialogPort {
  public:
    HANDLE Window() override { return nullptr; }
    void SetIcons() override {}
    void AddListEntry(int, const char*) override {}
    int GetSelection(int control) override { return selection[control]; }
    void SetSelection(int control, int index) override { selection[control] = index; }
    void EnableControl(int, bool) override {}
    void PostClose() override { closePosted = true; }
    void EndDialog(int result) override { ended = result; }

    std::map<int, int> selection;
    bool closePosted = false;
    int ended = -1;
};

using Calls = sim::SimServiceManager;

struct Row {
    const char* name;
    std::function<void(sim::SimMachine&)> atOpen;  // faults in place when the dialog opens
    std::function<void(sim::SimMachine&)> atOk;    // faults in place when OK is pressed
    uint64_t uptimeMs;
    std::string message;        // "" = none
    std::vector<DWORD> stored;  // bus, port, interrupt afterwards
    int restarts;               // stops and starts the driver went through
    DWORD driverState;
};

TEST(DeviceSettingsFaultInjection, Table) {
    const uint64_t kNearWrap = (uint64_t{1} << 32) - 4000;
    const auto none = [](sim::SimMachine&) {};
    const auto refuse = [](Calls::Call call) {
        return [call](sim::SimMachine& pc) { pc.services.FailCall(call, ERROR_ACCESS_DENIED); };
    };
    const auto failRegistry = [](sim::SimRegistry::Operation op, const char* value) {
        return [op, value](sim::SimMachine& pc) {
            pc.registry.FailOperation(op, kParametersKey, ERROR_ACCESS_DENIED, value);
        };
    };
    const auto stuck = [](sim::SimMachine& pc) {
        pc.services.SetRefusesStop(kDriverServiceName, true);
    };
    const std::vector<DWORD> before = {1, 0x320, 10}, pci = {2, 0, 10};
    const std::string denied = "\n\nAccess is denied.";
    const Row rows[] = {
        {"no failure", none, none, 3600000, "", pci, 1, SERVICE_RUNNING},
        {"parameters key cannot be opened at start", failRegistry(sim::SimRegistry::kOpenKey, ""),
         none, 3600000, kNotInstalledText, before, 0, SERVICE_RUNNING},
        {"port cannot be read at start", failRegistry(sim::SimRegistry::kQueryValue, kIoPortValue),
         none, 3600000, "", pci, 1, SERVICE_RUNNING},
        {"key cannot be opened for writing", none, failRegistry(sim::SimRegistry::kOpenKey, ""),
         3600000, kKeyNotWritableText + denied, before, 0, SERVICE_RUNNING},
        {"port cannot be written",
         none,
         failRegistry(sim::SimRegistry::kSetValue, kIoPortValue),
         3600000,
         "Unable to save the setting \"I/O Port\": the driver was not restarted." + denied,
         {2, 0x320, 10},
         0,
         SERVICE_RUNNING},
        {"manager refused", none, refuse(Calls::kOpenSCManager), 3600000,
         kNotRestartedText + denied, pci, 0, SERVICE_RUNNING},
        {"driver service refused", none, refuse(Calls::kOpenService), 3600000,
         kNotRestartedText + denied, pci, 0, SERVICE_RUNNING},
        {"stop refused", none, refuse(Calls::kControlService), 3600000, kNotStoppedText, pci, 0,
         SERVICE_RUNNING},
        {"driver never stops", none, stuck, 3600000, kNotStoppedText, pci, 0, SERVICE_RUNNING},
        {"start refused", none, refuse(Calls::kStartService), 3600000, kNotStartedText + denied,
         pci, 0, SERVICE_STOPPED},
        {"tick counter wraps inside the stop wait", none, stuck, kNearWrap, kNotStoppedText, pci, 0,
         SERVICE_RUNNING},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimMachineConfig config;
        config.clock.uptimeMs = row.uptimeMs;
        sim::SimMachine pc(config);
        sim::SimService driver;
        driver.name = kDriverServiceName;
        driver.serviceType = SERVICE_KERNEL_DRIVER;
        driver.state = SERVICE_RUNNING;
        pc.services.AddService(driver);
        for (size_t i = 0; i < 3; ++i) {
            pc.registry.SetDword(
                kParametersKey, std::vector<const char*>{kBusTypeValue, kIoPortValue, kIrqValue}[i],
                before[i]);
        }
        QuietDialog window;
        DeviceSettingsDialog dialog(pc.ports, window);
        row.atOpen(pc);
        dialog.InitDialog();
        pc.registry.ClearFailures();
        // A dialog that posted its close is gone (cancelled) before anyone can press OK.
        if (!window.closePosted) {
            window.selection[IDC_BUS_LIST] = 0;  // PCI
            dialog.OnBusSelected();
            row.atOk(pc);
            dialog.ApplySettings();
        }
        pc.registry.ClearFailures();
        pc.services.ClearFailures();

        std::vector<DWORD> stored;
        for (const char* name : {kBusTypeValue, kIoPortValue, kIrqValue}) {
            DWORD value = 0xDEAD;
            pc.registry.GetDword(kParametersKey, name, &value);
            stored.push_back(value);
        }
        pc.services.GetService(kDriverServiceName, &driver);
        const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
        const std::string shown = boxes.empty() ? "" : boxes[0].text;
        std::printf(
            "fault row (QxrCfgNT) %s: message \"%s\", stored %lu/0x%lx/%lu, driver "
            "stopped %d and started %d times, now %s\n",
            row.name, shown.c_str(), static_cast<unsigned long>(stored[0]),
            static_cast<unsigned long>(stored[1]), static_cast<unsigned long>(stored[2]),
            driver.stopCount, driver.startCount,
            driver.state == SERVICE_RUNNING ? "running" : "stopped");
        EXPECT_LE(boxes.size(), 1u);
        EXPECT_EQ(shown, row.message);
        EXPECT_EQ(stored, row.stored);
        EXPECT_EQ(driver.startCount, row.restarts);
        EXPECT_EQ(driver.state, row.driverState);
        EXPECT_TRUE(window.ended == IDOK || (window.closePosted && window.ended == -1));
        EXPECT_EQ(pc.registry.OpenHandleCount(), 0);
        EXPECT_EQ(pc.services.OpenHandleCount(), 0);
    }
}

}  // namespace
}  // namespace qxr::device_config
