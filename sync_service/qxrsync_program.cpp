#include "sync_service/qxrsync_program.h"

namespace qxr::sync {

const char kQxrSyncUsage[] =
    "\nCommand line options:\n\n"
    "  qxrsync -i          Install and start the service\n"
    "  qxrsync -r          stop and Remove the service\n"
    "  qxrsync -v          display Version and status\n\n"
    "  net stop qxrsync    stop the service\n"
    "  net start qxrsync   start the service\n";

int RunServiceProgram(CNTService& service, platform::ConsoleOutput& console, int argc,
                      char** argv) {
    if (!service.ProcessCommandLine(argc, argv) && !service.RunDispatcher()) {
        console.Write(kQxrSyncUsage);
    }
    return static_cast<int>(service.CurrentStatus().dwWin32ExitCode);
}

}  // namespace qxr::sync
