#include "sync_service/ntp_server/time_serving.h"

namespace qxr::ntp {

TimeServing::TimeServing(platform::Platform& ports, platform::DatagramSockets& sockets,
                         const NtpSettings& settings, Mode mode)
    : ports_(ports),
      mode_(mode),
      cpuPercent_(settings.cpuPercent),
      server_(sockets, ports.counter, ports.clock, handover_, settings) {
    LARGE_INTEGER frequency{};
    if (ports.counter.QueryPerformanceFrequency(&frequency)) frequency_ = frequency.QuadPart;
}

TimeServing::~TimeServing() {
    Stop();
}

int TimeServing::Start() {
    const int error = server_.Open();
    if (error != 0 || mode_ == Mode::kCallerServes) return error;
    stop_.store(false);
    threadRunning_.store(true);
    DWORD id = 0;
    if (!ports_.threads.CreateThread(&TimeServing::Thread, this, &id)) {
        threadRunning_.store(false);
        server_.Close();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

void TimeServing::Stop() {
    stop_.store(true);
    // No time limit: the caller frees what the thread uses once this returns, and the thread
    // ends within a wake-up (kServeWaitMs), a batch and a slice of a pause.
    while (threadRunning_.load()) ports_.ticks.Sleep(10);
    server_.Close();
}

DWORD TimeServing::Thread(LPVOID self) {
    auto* serving = static_cast<TimeServing*>(self);
    serving->ServeUntilStopped();
    serving->threadRunning_.store(false);
    return 0;
}

void TimeServing::Pause(DWORD ms) {
    while (ms > 0 && !stop_.load()) {
        const DWORD slice = ms < kServeWaitMs ? ms : kServeWaitMs;
        ports_.ticks.Sleep(slice);
        ms -= slice;
    }
}

// The thread keeps the process's normal priority: in the REALTIME class the service runs in
// for the loop's sake that is 24, under the loop's 31, so the loop's corrections come first.
// Lowering it would not protect the desktop (even THREAD_PRIORITY_IDLE is 16 in that class,
// above every normal program): the CPU budget does. Under a flood the thread is busy at most
// `cpuPercent_` of the time, measured from each wake-up to the end of its batch, and then
// sleeps; the datagrams meanwhile wait in the socket's receive buffer, or the system drops
// them.
void TimeServing::ServeUntilStopped() {
    const int64_t windowCounts = frequency_ * kBudgetWindowMs / 1000;
    int64_t windowStart = Counter(), busy = 0;
    int failures = 0;
    bool reported = false;
    while (!stop_.load()) {
        const int error = server_.Serve(kServeWaitMs);
        if (error != 0) {
            // A failing wait returns at once: without a pause the thread would spin.
            if (++failures % kFailuresBeforeReopen == 0) {
                if (!reported && onReceiveFailing_) onReceiveFailing_(error);
                reported = true;
                server_.Open();
            }
            Pause(kFailureWaitMs);
            continue;
        }
        failures = 0;
        reported = false;
        if (cpuPercent_ >= 100 || windowCounts <= 0) continue;
        const int64_t now = Counter();
        busy += now - server_.WokeAt();
        const int64_t elapsed = now - windowStart;
        // Busy B takes B * 100 / percent of time in all, the rest asleep.
        const int64_t due = busy * 100 / cpuPercent_;
        if (busy * 100 >= windowCounts * static_cast<int64_t>(cpuPercent_)) {
            if (due > elapsed) Pause(static_cast<DWORD>((due - elapsed) * 1000 / frequency_));
            windowStart = Counter();
            busy = 0;
        } else if (elapsed >= windowCounts) {
            windowStart = now;
            busy = 0;
        }
    }
}

int64_t TimeServing::Counter() {
    LARGE_INTEGER now{};
    ports_.counter.QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void TimeServing::NoteStatus(int32_t reference) {
    CardReading reading;
    reading.kind = CardReading::kStatus;
    reading.reference = reference;
    handover_.Hand(reading);
}

void TimeServing::NoteTime(const CardTime* time, int64_t before) {
    const int64_t after = Counter();
    CardReading reading;
    if (time == nullptr || !MakeTimeReading(*time, before, after, frequency_, &reading)) {
        reading = CardReading{};
        reading.kind = CardReading::kTimeFailed;
    }
    handover_.Hand(reading);
}

}  // namespace qxr::ntp
