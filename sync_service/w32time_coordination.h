// Hand-over with the platform's own time service, W32Time: installing the synchronizer stops
// and disables it after noting its start type; removing the synchronizer puts that start
// type back. Every failure ends a step quietly; the progress lines go to the console. When the
// start type cannot be noted W32Time is still disabled, and one line says that it will have
// to be re-enabled by hand after removal.
#pragma once

#include "platform/ports/console_output.h"
#include "platform/ports/registry.h"
#include "platform/ports/service_manager.h"

namespace qxr::sync {

inline constexpr char kW32TimeName[] = "W32Time";
inline constexpr char kStartTypeNotNotedText[] =
    "The start type of W32Time could not be noted: after removal, re-enable W32Time by hand.\n";

class W32TimeCoordination {
  public:
    // serviceName: the synchronizer's, under whose key the start type is noted.
    W32TimeCoordination(platform::ServiceManager& services, platform::Registry& registry,
                        platform::ConsoleOutput& console, const char* serviceName);

    void Disable();
    void Restore();

  private:
    bool NoteStartType(DWORD startType);
    DWORD NotedStartType();

    platform::ServiceManager& services_;
    platform::Registry& registry_;
    platform::ConsoleOutput& console_;
    char keyName_[160];
};

}  // namespace qxr::sync
