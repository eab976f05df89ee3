// A simulated machine for the service tests: every port the service uses, a scripted card,
// a console that keeps what is printed, and a timeline of actions in virtual time.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "card_access/card_client.h"
#include "card_simulator/sim_machine.h"
#include "platform/ports/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_event_log.h"
#include "platform/sim/sim_journal.h"
#include "platform/sim/sim_process.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_service_manager.h"
#include "platform/sim/sim_threads.h"
#include "platform/system_time.h"
#include "sync_service/event_messages.h"

namespace qxr::sync::testing {

inline constexpr char kProgramPath[] = "C:\\Program Files\\Quoxar\\QxrSync.exe";
inline constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Parameters";
inline constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync";
inline constexpr char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QxrSync";
inline constexpr char kNotedKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\W32Time";

// The card as the loop sees it: a status the timeline changes, and a clock that shows true
// time (whole seconds, the way the loop uses it) with no latch counter.
class ScriptedCard : public card_access::CardClient {
  public:
    explicit ScriptedCard(sim::SimClock& clock) : clock_(clock) {}

    uint32_t GetHwStatus(CardStatus* status) override {
        ++statusCalls;
        *status = CardStatus{};
        if (statusError != 0) return statusError;
        status->gpsPresent = gpsPresent ? 1 : 0;
        status->reference = static_cast<TimeReference>(reference);
        return 0;
    }
    uint32_t GetTime(CardTime* time) override {
        timeCallsAt.push_back(clock_.TrueTime());
        *time = CardTime{};
        if (timeError != 0) return timeError;
        SYSTEMTIME st{};
        FileTimeToSystemTimeFields(clock_.TrueTime(), &st);
        time->year = st.wYear;
        time->month = st.wMonth;
        time->day = st.wDay;
        time->hour = st.wHour;
        time->minute = st.wMinute;
        time->second = st.wSecond;
        time->millisecond = 777;  // must not be used
        if (editTime) editTime(time);
        return 0;
    }
    uint32_t SetTime(const CardTime*) override { return ERROR_NOT_SUPPORTED; }

    int32_t reference = static_cast<int32_t>(TimeReference::Gps);
    bool gpsPresent = true;
    uint32_t statusError = 0;
    uint32_t timeError = 0;
    std::function<void(CardTime*)> editTime;  // changes a successful reading
    std::atomic<int> statusCalls{0};
    std::vector<int64_t> timeCallsAt;

  private:
    sim::SimClock& clock_;
};

inline sim::SimClockConfig DefaultClockConfig() {
    sim::SimClockConfig config;
    config.counterFrequency = 10000000;
    return config;
}

// The simulated PC with a scripted card in place of the card library, a recording console
// and a timeline. The device port is there but unused: the service reads the card through
// `card`.
class ServiceTestMachine : public sim::SimMachine {
  public:
    explicit ServiceTestMachine(const sim::SimClockConfig& config = DefaultClockConfig())
        : sim::SimMachine(MachineConfig(config)), card(clock), start_(clock.TrueTime()) {
        eventLog.SetMessageTable(RenderEventMessage);
        registry.SetJournal(&journal);
        services.SetJournal(&journal);
        eventLog.SetJournal(&journal);
        clock.AddAdvanceListener([this] { RunTimeline(); });
    }

    // Milliseconds of virtual time since the machine was made.
    int64_t NowMs() const { return (clock.TrueTime() - start_) / 10000; }
    int64_t MsOf(int64_t trueTime) const { return (trueTime - start_) / 10000; }
    // Runs `action` at the first advance that reaches `ms` (before the pass at that time).
    void At(int64_t ms, std::function<void()> action) { timeline_.emplace(ms, std::move(action)); }
    void StopAt(int64_t ms) {
        At(ms, [this] { services.SendControl(SERVICE_CONTROL_STOP); });
    }
    // The service's entry as the service manager holds it when it starts the program.
    void AddServiceEntry() {
        sim::SimService entry;
        entry.name = "QxrSync";
        entry.state = SERVICE_START_PENDING;
        services.AddService(entry);
    }
    // The entry, and a stop control at `stopMs`: what a test run of the service needs.
    void PrepareRun(int64_t stopMs) {
        AddServiceEntry();
        StopAt(stopMs);
    }

    struct LoggedEvent {
        int64_t ms;
        DWORD id;
        WORD type;
        std::string text;  // rendered
    };
    std::vector<LoggedEvent> Logged() const {
        std::vector<LoggedEvent> out;
        const std::vector<sim::SimEvent> events = eventLog.Events();
        for (std::size_t i = 0; i < events.size(); ++i) {
            out.push_back(LoggedEvent{MsOf(events[i].time), events[i].id, events[i].type,
                                      eventLog.Render(i)});
        }
        return out;
    }

    sim::SimJournal journal;
    ScriptedCard card;
    sim::RecordingConsole console;

  private:
    static sim::SimMachineConfig MachineConfig(const sim::SimClockConfig& clockConfig) {
        sim::SimMachineConfig config;
        config.clock = clockConfig;
        config.programPath = kProgramPath;
        return config;
    }

    void RunTimeline() {
        while (!timeline_.empty() && timeline_.begin()->first <= NowMs()) {
            auto action = std::move(timeline_.begin()->second);
            timeline_.erase(timeline_.begin());
            action();
        }
        threads.RunDue();
    }

    int64_t start_;
    std::multimap<int64_t, std::function<void()>> timeline_;
};

}  // namespace qxr::sync::testing
