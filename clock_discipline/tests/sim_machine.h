// The simulated NT machine the engine's tests run on: one clock, one process whose
// SeSystemtimePrivilege gates setting the clock, and a capture of the engine's trace.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "clock_discipline/discipline_ports.h"
#include "clock_discipline/discipline_trace.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_process.h"

namespace qxr::discipline::testing {

struct SimMachine {
    explicit SimMachine(const sim::SimClockConfig& config = sim::SimClockConfig{}) : clock(config) {
        clock.SetPrivilegeCheck(process.PrivilegeCheck(SE_SYSTEMTIME_NAME));
    }

    DisciplinePorts Ports() { return DisciplinePorts{clock, clock, process, process, process}; }
    // A card time that gives exactly `offset` (card minus system) when read without a latch
    // counter: reads return the time of the last interrupt, which stays put until time moves.
    int64_t CardTimeAhead(int64_t offset) { return clock.SystemTime() + offset; }

    sim::SimProcess process;  // before the clock, whose privilege check refers to it
    sim::SimClock clock;
};

class TraceCapture {
  public:
    TraceCapture() {
        previous_ = SetDisciplineTraceSink([this](const char* line) { lines.emplace_back(line); });
    }
    ~TraceCapture() { SetDisciplineTraceSink(std::move(previous_)); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    bool Contains(const std::string& line) const {
        for (const auto& l : lines) {
            if (l == line) return true;
        }
        return false;
    }

    std::vector<std::string> lines;

  private:
    DisciplineTraceSink previous_;
};

}  // namespace qxr::discipline::testing
