// SyncService::Run: the synchronizer loop. Every pass reads the card status, follows the
// active reference, corrects the clock once per correction interval, reports reference changes
// after their delays and starts the GPS-off-line pop-up; with a tracking log set, each
// correction also hands its record to the log's writer, which never holds the loop. A card
// date that cannot be true (card_date_floor.h) is neither corrected from nor served. Each pass
// publishes the figures of the performance counters that changed (counter_publisher.h). Per
// pass nothing is allocated and nothing is formatted unless an event or a tracking line is
// written.
#include <cstdio>

#include "card_access/card_time_conversion.h"
#include "clock_discipline/clock_discipline.h"
#include "clock_discipline/priority_boost.h"
#include "clock_discipline/round_div.h"
#include "platform/system_time.h"
#include "sync_service/card_date_floor.h"
#include "sync_service/correction_watch.h"
#include "sync_service/counter_publisher.h"
#include "sync_service/event_messages.h"
#include "sync_service/sync_service.h"

namespace qxr::sync {

namespace {

constexpr int32_t kNone = static_cast<int32_t>(TimeReference::None);
constexpr int32_t kGps = static_cast<int32_t>(TimeReference::Gps);
constexpr int32_t kOnBoardClock = static_cast<int32_t>(TimeReference::OnBoardClock);
constexpr const char* kReferenceNames[3] = {"?", "GPS", "on-board clock"};

// The counter's reference state: the higher, the better.
uint32_t ReferenceState(int32_t reference) {
    return reference == kGps            ? perf::kStateGps
           : reference == kOnBoardClock ? perf::kStateOnBoardClock
                                        : perf::kStateNone;
}

uint64_t Magnitude(int64_t value) {
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// Parameters are seconds; negative ones wrap like the unsigned tick arithmetic they feed.
DWORD SecondsToMs(int32_t seconds) {
    return static_cast<DWORD>(seconds) * 1000u;
}

}  // namespace

void SyncService::Run() {
    LoopState state;
    state.correctionInterval = SecondsToMs(parameters_.rampDuration) - kPollPeriodMs / 2;
    state.logDelay = SecondsToMs(parameters_.logSecsNoGps);
    state.popupDelay = SecondsToMs(parameters_.msgSecsNoGps);

    platform::Platform& ports = Ports();
    // Made first and so stopped last, once the loop has ended, before the service says stopped.
    TrackingLogWriter trackingLog(ports.threads, ports.files, tracking_);
    if (tracking_.Enabled()) state.trackingLog = &trackingLog;
    // The engine sees the clock through the watch, which tells a step from a slew.
    CorrectionWatch watch(ports.clock);
    discipline::DisciplinePorts enginePorts = discipline::DisciplinePorts::Of(ports);
    discipline::ClockDiscipline engine(
        discipline::DisciplinePorts{watch, enginePorts.counter, enginePorts.scheduling,
                                    enginePorts.privileges, enginePorts.version},
        parameters_.rampDuration, parameters_.maxAdjustPct);
    // Released before the engine goes, which puts the clock back to its nominal rate.
    discipline::PriorityBoost boost(ports.scheduling, REALTIME_PRIORITY_CLASS,
                                    THREAD_PRIORITY_TIME_CRITICAL);
    // The counters' section goes last, once they say that the service stopped.
    CounterPublisher publisher(sections_);
    if (sections_ != nullptr) {
        if (const DWORD error = publisher.Open(); error != 0) {
            TraceMsg("Performance counters not published (error %lu)",
                     static_cast<unsigned long>(error));
        }
    }
    state.publisher = &publisher;
    state.counters.serviceRunning = 1;
    state.counters.gpsTick = ports.ticks.GetTickCount();
    state.serving = activeServing_ = StartTimeServing();
    while (IsRunning()) {
        if (!Pass(state, engine, watch, ports.ticks.GetTickCount())) {
            LowerRunningFlag();
            break;
        }
        ports.ticks.Sleep(kPollPeriodMs);
    }
    // The port is closed before the service reports that it stopped.
    activeServing_ = nullptr;
    delete state.serving;
    state.serving = nullptr;
    state.counters = perf::CounterValues{};
    publisher.Publish(state.counters);
}

bool SyncService::Pass(LoopState& state, discipline::ClockDiscipline& engine,
                       CorrectionWatch& watch, DWORD now) {
    state.passTick = now;
    CardStatus status{};
    const uint32_t error = card_.GetHwStatus(&status);
    if (error != 0) {
        char text[24];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(error));
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kMsgDllError, text);
        return false;
    }

    // While the card's date cannot be true, its reference is not to be believed either.
    if (state.serving != nullptr) {
        state.serving->NoteStatus(state.cardDateFalse ? kNone
                                                      : static_cast<int32_t>(status.reference));
    }
    // Unsigned, so that a stray negative value still names a reference.
    const int32_t reference = static_cast<int32_t>(static_cast<uint32_t>(status.reference) % 3u);
    if (reference != state.currentReference) {
        state.currentReference = reference;
        if (reference == kNone) {
            ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgNoReference);
        } else {
            state.changeTick = state.logDelay != 0 ? now : 0;
            state.popupTick = state.popupDelay != 0 ? now : 0;
        }
    }

    if (now - state.lastCorrectionTick >= state.correctionInterval) {
        Correct(state, engine, watch, status);
        state.lastCorrectionTick = now;
    }

    if (state.changeTick != 0 && state.currentReference != state.loggedReference &&
        (state.currentReference == kGps || now - state.changeTick >= state.logDelay)) {
        state.changeTick = 0;
        state.loggedReference = state.currentReference;
        ReportReference(state.currentReference, status.gpsPresent != 0);
    }

    if (state.popupTick != 0 && now - state.popupTick >= state.popupDelay &&
        status.gpsPresent != 0 && state.currentReference != kGps && StartPopup()) {
        state.popupTick = 0;
    }
    state.counters.referenceState = ReferenceState(state.cardDateFalse ? kNone : reference);
    PublishCounters(state);
    return true;
}

void SyncService::Correct(LoopState& state, discipline::ClockDiscipline& engine,
                          CorrectionWatch& watch, const CardStatus& status) {
    CardTime time{};
    int64_t cardTime = 0;
    const int64_t before = state.serving != nullptr ? state.serving->Counter() : 0;
    const bool read = card_.GetTime(&time) == 0;
    const bool converted = read && CardTimeToFileTime(time, false, &cardTime);
    if (converted) FollowCardDate(state, time, cardTime, status);
    if (!read) ++state.counters.cardReadFailures;
    // A reading that does not convert tells nothing new about the date: a spell of false
    // dates goes on through it.
    if (state.serving != nullptr) {
        state.serving->NoteTime(read && !state.cardDateFalse ? &time : nullptr, before);
    }
    if (!converted || state.cardDateFalse) return;
    if (static_cast<uint32_t>(status.reference) % 3u == static_cast<uint32_t>(kGps)) {
        state.counters.gpsTick = state.passTick;
    }
    const int64_t latch = static_cast<int64_t>(
        (static_cast<uint64_t>(time.latchCounterHigh) << 32) | time.latchCounterLow);
    TrackingRecord record;
    if (state.trackingLog != nullptr) {
        // The system clock and the card at one instant, as the engine is about to compare them.
        FILETIME now{};
        LARGE_INTEGER counter{}, frequency{};
        Ports().clock.GetSystemTimeAsFileTime(&now);
        Ports().counter.QueryPerformanceCounter(&counter);
        record.systemTime = FileTimeToInt64(now);
        record.cardTime = cardTime;
        if (latch != 0 && Ports().counter.QueryPerformanceFrequency(&frequency) &&
            frequency.QuadPart > 0) {
            record.cardTime = discipline::SaturatingAdd(
                cardTime,
                discipline::MulDivRound(discipline::SaturatingSubtract(counter.QuadPart, latch),
                                        10000000, frequency.QuadPart));
        }
        record.reference = state.currentReference;
        record.gpsFitted = status.gpsPresent != 0;
    }
    watch.Reset();
    const int32_t offset = engine.Update(cardTime, parameters_.timeSetBias, latch);
    CountCorrection(state, engine, watch);
    if (state.trackingLog != nullptr) {
        record.offsetMs = offset;
        Track(state, engine, watch, record);
    }
    const int64_t magnitude = offset < 0 ? -int64_t{offset} : int64_t{offset};
    if (parameters_.logThreshold != 0 && magnitude >= parameters_.logThreshold) {
        char text[24];
        std::snprintf(text, sizeof text, "%s%d.%03d", offset < 0 ? "-" : "",
                      static_cast<int>(magnitude / 1000), static_cast<int>(magnitude % 1000));
        ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgCorrectingOffset, text);
    }
}

void SyncService::FollowCardDate(LoopState& state, const CardTime& time, int64_t cardTime,
                                 const CardStatus& status) {
    const bool dateFalse = !IsPlausibleCardTime(cardTime);
    if (dateFalse == state.cardDateFalse) return;
    state.cardDateFalse = dateFalse;
    if (dateFalse) {
        char date[24];
        FormatCardDate(time, date, sizeof date);
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgBadCardDate, date);
        if (state.serving != nullptr) state.serving->NoteStatus(kNone);
    } else if (state.serving != nullptr) {
        // The server heard "no reference" at this pass's start; the reading that follows is
        // to count as the card's own again.
        state.serving->NoteStatus(static_cast<int32_t>(status.reference));
    }
}

void SyncService::Track(LoopState& state, const discipline::ClockDiscipline& engine,
                        const CorrectionWatch& watch, TrackingRecord record) {
    if (watch.TimeSet()) {
        record.action = TrackingAction::kStep;
    } else if (watch.AdjustmentSet() && engine.IsAdjusting()) {
        record.action = TrackingAction::kSlew;
    }
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    if (Ports().clock.GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) {
        // With the system's own adjustment on, the clock runs at its nominal increment.
        record.adjustment = disabled ? increment : adjustment;
        record.increment = increment;
    } else {
        record.adjustment = record.increment = engine.TimeIncrement();
    }
    lastTracked_ = record;
    ++trackedCount_;
    state.trackingLog->Post(record);
    const TrackingLogWriter::Outcome outcome = state.trackingLog->TakeOutcome();
    char text[24];
    if (outcome.failedError != ERROR_SUCCESS) {
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(outcome.failedError));
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgTrackingLogFailed, state.trackingLog->Path(),
                           text);
    }
    state.counters.trackingLinesDropped += outcome.droppedLines;
    if (outcome.droppedLines != 0) {
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(outcome.droppedLines));
        ReportServiceEvent(EVENTLOG_WARNING_TYPE, kMsgTrackingLogBehind, state.trackingLog->Path(),
                           text);
    }
}

void SyncService::CountCorrection(LoopState& state, const discipline::ClockDiscipline& engine,
                                  const CorrectionWatch& watch) {
    // An engine that declined (the clock is another program's) measured nothing: the last
    // correction's figures stay.
    if (!watch.TimeSet() && !watch.AdjustmentSet()) return;
    perf::CounterValues& c = state.counters;
    ++c.corrections;
    if (watch.TimeSet()) ++c.steps;
    const int64_t offset = engine.LastOffset();  // 100-ns units, system minus card
    c.offsetUs = Magnitude(offset) / 10;
    c.systemAhead = offset > 0 ? 1 : 0;
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = TRUE;
    c.rateCorrectionPpb = 0;
    c.rateFaster = 0;
    if (Ports().clock.GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && !disabled &&
        increment != 0) {
        const int64_t change = int64_t{adjustment} - int64_t{increment};
        const uint64_t ppb = Magnitude(change) * 1000000000u / increment;
        c.rateCorrectionPpb = ppb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ppb);
        c.rateFaster = change > 0 ? 1 : 0;
    }
}

void SyncService::PublishCounters(LoopState& state) {
    if (state.publisher == nullptr || !state.publisher->IsOpen()) return;
    perf::CounterValues& c = state.counters;
    if (state.serving != nullptr) {
        // Never waits for the server: while it holds its counts, the last ones stay.
        ntp::NtpServerCounts counts;
        if (!state.serving->TryCopyCounts(&counts)) {
            state.publisher->Publish(c);
            return;
        }
        c.ntpOutgoing = counts.answered;
        c.ntpIncoming = counts.answered + counts.malformed + counts.refused + counts.limited;
        c.ntpMalformed = counts.malformed;
        c.ntpRefused = counts.refused;
        c.ntpLimited = counts.limited;
        c.ntpSynchronised = state.serving->Served().synchronised.load(std::memory_order_relaxed);
        c.ntpRootDispersionUs =
            state.serving->Served().rootDispersionUs.load(std::memory_order_relaxed);
    }
    state.publisher->Publish(c);
}

void SyncService::ReportReference(int32_t reference, bool gpsPresent) {
    WORD type = EVENTLOG_INFORMATION_TYPE;
    if (reference == kNone || (reference == kOnBoardClock && gpsPresent)) {
        type = EVENTLOG_WARNING_TYPE;
    }
    ReportServiceEvent(type, kMsgUsingReference, kReferenceNames[reference]);
}

}  // namespace qxr::sync
