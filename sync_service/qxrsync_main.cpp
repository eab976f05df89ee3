// QxrSync.exe: the synchronizer service and its own installer, on the real Windows API and
// the imports of qxrtime.dll.
#include "card_access/imported_card_client.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_device_io.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_service_manager.h"
#include "platform/win32/win32_threads.h"
#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"

int main(int argc, char** argv) {
    using namespace qxr;
    win32::Win32Clock clock;
    win32::Win32Process process;
    win32::Win32Registry registry;
    win32::Win32ServiceManager services;
    win32::Win32EventLog eventLog;
    win32::Win32DebugOutput debug;
    win32::Win32Threads threads;
    win32::Win32MessageBoxes messageBoxes;
    win32::Win32ModuleInfo module;
    win32::Win32DeviceIo device;
    platform::Platform ports{device,   clock,    clock,    clock, process, process,      process,
                             registry, services, eventLog, debug, threads, messageBoxes, module};
    card_access::ImportedCardClient card;
    sync::StdoutConsole console;
    int exitCode = 0;
    {
        sync::SyncService service(ports, card, console);
        exitCode = sync::RunServiceProgram(service, console, argc, argv);
    }
    return exitCode;
}
