// Ondrak against a service manager that refuses each call it makes, a driver that will not
// stop, and the tick counter wrapping inside the stop wait: one table row each, with the
// message the row must show, whether the driver's entry is there afterwards, and how long
// the run took in virtual time. Every row ends with exit code 0 and no handle left open.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "install_tools/driver_installer.h"
#include "platform/sim/sim_console.h"

namespace qxr::install {
namespace {

using sim::NullConsole;

using Calls = sim::SimServiceManager;

struct Row {
    const char* name;
    bool install;      // else remove
    bool driverThere;  // QxrDrv exists (running) before the run
    std::function<void(sim::SimMachine&)> inject;
    uint64_t uptimeMs;
    const char* message;  // "" = none
    bool driverThereAfter;
    int64_t minMs, maxMs;  // virtual time the run took
};

TEST(OndrakFaultInjection, Table) {
    const uint64_t kNearWrap = (uint64_t{1} << 32) - 6000;
    const auto refuse = [](Calls::Call call, DWORD error = ERROR_ACCESS_DENIED) {
        return [call, error](sim::SimMachine& pc) { pc.services.FailCall(call, error); };
    };
    const auto nothing = [](sim::SimMachine&) {};
    const auto stuck = [](sim::SimMachine& pc) { pc.services.SetRefusesStop("QxrDrv", true); };
    const Row rows[] = {
        {"install: manager refused", true, false, refuse(Calls::kOpenSCManager), 3600000,
         kInstallAbortedText, false, 0, 0},
        {"install: creation refused", true, false, refuse(Calls::kCreateService), 3600000,
         kInstallAbortedText, false, 0, 0},
        {"install: creation finds the name taken", true, true, nothing, 3600000,
         kAlreadyInstalledText, true, 0, 0},
        {"remove: manager refused", false, true, refuse(Calls::kOpenSCManager), 3600000,
         kCannotRemoveText, true, 0, 0},
        {"remove: service refused", false, true, refuse(Calls::kOpenService), 3600000,
         kCannotRemoveText, true, 0, 0},
        {"remove: stop refused", false, true, refuse(Calls::kControlService), 3600000,
         kNotStoppedText, false, 15000, 15100},
        {"remove: driver never stops", false, true, stuck, 3600000, kNotStoppedText, false, 15000,
         15100},
        {"remove: status queries refused while the driver hangs", false, true,
         [&](sim::SimMachine& pc) {
             stuck(pc);
             pc.services.FailCall(Calls::kQueryServiceStatus, ERROR_ACCESS_DENIED);
         },
         3600000, kNotStoppedText, false, 15000, 15100},
        {"remove: deletion refused", false, true, refuse(Calls::kDeleteService), 3600000, "", true,
         0, 0},
        {"remove: tick counter wraps inside the stop wait", false, true, stuck, kNearWrap,
         kNotStoppedText, false, 15000, 15100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimMachineConfig config;
        config.clock.uptimeMs = row.uptimeMs;
        sim::SimMachine pc(config);
        if (row.driverThere) {
            sim::SimService driver;
            driver.name = "QxrDrv";
            driver.serviceType = SERVICE_KERNEL_DRIVER;
            driver.state = SERVICE_RUNNING;
            pc.services.AddService(driver);
        }
        row.inject(pc);
        std::vector<std::string> args = {"Ondrak.exe", "QxrDrv"};
        if (row.install) args.insert(args.end(), {"qxrkmdrv", "QXR Card Device Driver"});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        const int64_t start = pc.clock.TrueTime();
        NullConsole console;
        const int exitCode =
            DriverInstaller(pc.ports, console).Run(static_cast<int>(args.size()), argv.data());
        const int64_t tookMs = (pc.clock.TrueTime() - start) / 10000;
        const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
        const std::string shown = boxes.empty() ? "" : boxes[0].text;
        std::printf("fault row (Ondrak) %s: message \"%s\", driver %s, %lld ms\n", row.name,
                    shown.c_str(), pc.services.HasService("QxrDrv") ? "there" : "absent",
                    static_cast<long long>(tookMs));
        EXPECT_EQ(exitCode, 0);
        EXPECT_LE(boxes.size(), 1u);
        EXPECT_EQ(shown, row.message);
        EXPECT_EQ(pc.services.HasService("QxrDrv"), row.driverThereAfter);
        EXPECT_GE(tookMs, row.minMs);
        EXPECT_LE(tookMs, row.maxMs);
        EXPECT_EQ(pc.services.OpenHandleCount(), 0);
    }
}

}  // namespace
}  // namespace qxr::install
