// Asks, through the real Win32 adapters, whether the system clock's rate is free for this
// engine, and prints the engine's view. No update is made, so the time is never set; like the
// service at its start, the engine may take the rate facility over (writing the nominal rate),
// which Wine ignores.
#include <cstdio>

#include "clock_discipline/clock_discipline.h"
#include "clock_discipline/discipline_trace.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_process.h"

int main() {
    using namespace qxr::discipline;
    SetDisciplineTraceSink([](const char* line) { std::printf("trace: %s\n", line); });
    qxr::win32::Win32Clock clock;
    qxr::win32::Win32Process process;
    const DisciplinePorts ports{clock, clock, process, process, process};
    ClockDiscipline engine(ports, 10, 100);
    std::printf("available=%d rampSteps=%lld lower=%lld upper=%lld increment=%lu\n",
                engine.IsAdjustmentAvailable() ? 1 : 0, static_cast<long long>(engine.RampSteps()),
                static_cast<long long>(engine.LowerLimit()),
                static_cast<long long>(engine.UpperLimit()),
                static_cast<unsigned long>(engine.TimeIncrement()));
    return 0;
}
