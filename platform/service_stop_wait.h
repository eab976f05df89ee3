// Waiting for a service (here always a kernel driver) to stop after a stop request: the
// device settings dialog and the driver installer wait the same way, with deadlines of their
// own.
#pragma once

#include "platform/ports/service_manager.h"
#include "platform/ports/system_clock.h"

namespace qxr::platform {

inline constexpr DWORD kStopPollMs = 100;

// `status` holds what the stop request reported (zero-filled when it reported nothing, which
// counts as not stopped). Polls the state every 100 ms until it is SERVICE_STOPPED, or until
// `timeoutMs` have passed since the call: false then. The time passed is the unsigned 32-bit
// difference of two tick counts, so a wrap of the tick counter during the wait changes nothing.
inline bool WaitForServiceStop(ServiceManager& services, TickCounter& ticks, SC_HANDLE service,
                               SERVICE_STATUS* status, DWORD timeoutMs) {
    const DWORD start = ticks.GetTickCount();
    while (status->dwCurrentState != SERVICE_STOPPED) {
        if (static_cast<DWORD>(ticks.GetTickCount() - start) >= timeoutMs) return false;
        // A failed query leaves the last state in place: the deadline still ends the wait.
        services.QueryServiceStatus(service, status);
        ticks.Sleep(kStopPollMs);
    }
    return true;
}

}  // namespace qxr::platform
