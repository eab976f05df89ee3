// Every port of the system on the real Windows API, in one object: what a program's main
// builds before it constructs its own classes.
#pragma once

#include "platform/ports/platform.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_device_io.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_service_manager.h"
#include "platform/win32/win32_threads.h"

namespace qxr::win32 {

class Win32Machine {
  public:
    Win32Machine()
        : ports{device,   clock,    clock, clock,   process,      process, process, registry,
                services, eventLog, debug, threads, messageBoxes, module,  files} {}
    Win32Machine(const Win32Machine&) = delete;
    Win32Machine& operator=(const Win32Machine&) = delete;

    Win32Clock clock;
    Win32Process process;
    Win32Registry registry;
    Win32ServiceManager services;
    Win32EventLog eventLog;
    Win32DebugOutput debug;
    Win32Threads threads;
    Win32MessageBoxes messageBoxes;
    Win32ModuleInfo module;
    Win32DeviceIo device;
    Win32FileSystem files;
    platform::Platform ports;
};

}  // namespace qxr::win32
