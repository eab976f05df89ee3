// A whole simulated PC in a few lines: every port of the system backed by its in-memory
// stand-in, wired together (the clock's privilege check to the process token, the card device
// to the clock, virtual time stamps on events, pop-ups and deferred threads). It fits the
// simulated card into the platform's stand-ins (platform/sim/), so it lives up here.
//
//     qxr::sim::SimMachine pc;                      // defaults: NT 4.0, 156,250 tick, GPS card
//     qxr::card_access::CardLibrary library(pc.device);
//     SomeProgram program(pc.ports, ...);
#pragma once

#include <string>

#include "card_simulator/sim_card_device.h"
#include "platform/ports/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_event_log.h"
#include "platform/sim/sim_process.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_service_manager.h"
#include "platform/sim/sim_threads.h"

namespace qxr::sim {

struct SimMachineConfig {
    SimClockConfig clock;
    card::CardSettings card{card::kBusIsa, 0x300, 5};
    bool driverLoaded = true;
    std::string programPath = "C:\\Program Files\\Quoxar\\QxrSync.exe";
    platform::FileVersion programVersion{1, 0, 0, 2};
    SimThreads::Mode threadMode = SimThreads::Mode::kInline;
};

class SimMachine {
  public:
    explicit SimMachine(const SimMachineConfig& config = SimMachineConfig{})
        : clock(config.clock),
          device(clock, config.card, config.driverLoaded),
          services(&registry),
          threads(config.threadMode),
          messageBoxes(&threads),
          module(config.programPath, true, config.programVersion),
          ports{device,   clock,    clock,    clock, process, process,      process,
                registry, services, eventLog, debug, threads, messageBoxes, module} {
        clock.SetPrivilegeCheck(process.PrivilegeCheck(SE_SYSTEMTIME_NAME));
        auto now = [this] { return clock.TrueTime(); };
        eventLog.SetTimeSource(now);
        threads.SetTimeSource(now);
        messageBoxes.SetTimeSource(now);
        clock.AddAdvanceListener([this] { threads.RunDue(); });
    }
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    SimProcess process;  // before the clock, whose privilege check refers to it
    SimClock clock;
    SimCardDevice device;
    SimRegistry registry;
    SimServiceManager services;
    SimEventLog eventLog;
    SimDebugOutput debug;
    SimThreads threads;
    SimMessageBoxes messageBoxes;
    SimModuleInfo module;
    platform::Platform ports;
};

}  // namespace qxr::sim
