// The platform operations the clock discipline engine and its guards use.
#pragma once

#include "platform/ports/platform.h"
#include "platform/ports/process_control.h"
#include "platform/ports/system_clock.h"

namespace qxr::discipline {

struct DisciplinePorts {
    platform::SystemClock& clock;
    platform::PerformanceCounter& counter;
    platform::ProcessScheduling& scheduling;
    platform::TokenPrivileges& privileges;
    platform::VersionInfo& version;

    static DisciplinePorts Of(platform::Platform& platform) {
        return DisciplinePorts{platform.clock, platform.counter, platform.scheduling,
                               platform.privileges, platform.version};
    }
};

}  // namespace qxr::discipline
