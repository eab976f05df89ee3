// The QxrSync program's entry, apart from the platform it runs on: the command line, else
// the service control dispatcher, else the usage text.
#pragma once

#include "platform/ports/console_output.h"
#include "sync_service/nt_service.h"

namespace qxr::sync {

extern const char kQxrSyncUsage[];

// Returns the process's exit code: the status record's Win32 exit code.
int RunServiceProgram(CNTService& service, platform::ConsoleOutput& console, int argc, char** argv);

}  // namespace qxr::sync
