// The whole set of platform ports a program of this system runs on. A program gets one from
// its Win32 adapters (win32/) or from a simulated machine (card_simulator/sim_machine.h).
#pragma once

#include "platform/ports/device_io.h"
#include "platform/ports/event_log.h"
#include "platform/ports/process_control.h"
#include "platform/ports/registry.h"
#include "platform/ports/service_manager.h"
#include "platform/ports/system_clock.h"
#include "platform/ports/threads.h"

namespace qxr::platform {

struct Platform {
    DeviceIo& device;
    SystemClock& clock;
    PerformanceCounter& counter;
    TickCounter& ticks;
    ProcessScheduling& scheduling;
    TokenPrivileges& privileges;
    VersionInfo& version;
    Registry& registry;
    ServiceManager& services;
    EventLog& eventLog;
    DebugOutput& debug;
    Threads& threads;
    MessageBoxes& messageBoxes;
    ModuleInfo& module;
};

}  // namespace qxr::platform
