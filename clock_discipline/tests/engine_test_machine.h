// The simulated NT machine the engine's tests run on (the shared simulated PC, whose process
// token's SeSystemtimePrivilege gates setting the clock), and a capture of the engine's trace.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "clock_discipline/discipline_ports.h"
#include "clock_discipline/discipline_trace.h"

namespace qxr::discipline::testing {

struct EngineTestMachine : sim::SimMachine {
    explicit EngineTestMachine(const sim::SimClockConfig& config = sim::SimClockConfig{})
        : sim::SimMachine(WithClock(config)) {}

    DisciplinePorts Ports() { return DisciplinePorts::Of(ports); }
    // A card time that gives exactly `offset` (card minus system) when read without a latch
    // counter: reads return the time of the last interrupt, which stays put until time moves.
    int64_t CardTimeAhead(int64_t offset) { return clock.SystemTime() + offset; }

  private:
    static sim::SimMachineConfig WithClock(const sim::SimClockConfig& clockConfig) {
        sim::SimMachineConfig config;
        config.clock = clockConfig;
        return config;
    }
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
