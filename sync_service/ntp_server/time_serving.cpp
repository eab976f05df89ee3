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
    const int error = server_.Open(mode_ == Mode::kOwnThread ? kServeWaitMs : 0);
    if (error != 0 || mode_ == Mode::kCallerServes) return error;
    stop_.store(false);
    windowStart_ = Counter();
    for (int i = 0; i < server_.SocketCount(); ++i) {
        workers_[i] = Worker{this, i};
        threadsRunning_.fetch_add(1);
        DWORD id = 0;
        if (!ports_.threads.CreateThread(&TimeServing::Thread, &workers_[i], &id)) {
            threadsRunning_.fetch_sub(1);
            Stop();
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return 0;
}

void TimeServing::Stop() {
    stop_.store(true);
    // No time limit: the caller frees what the threads use once this returns, and each
    // ends within a wake-up (kServeWaitMs) and a slice of a pause.
    while (threadsRunning_.load() > 0) ports_.ticks.Sleep(10);
    server_.Close();
}

DWORD TimeServing::Thread(LPVOID worker) {
    const Worker* w = static_cast<const Worker*>(worker);
    TimeServing* serving = w->serving;
    serving->ServeUntilStopped(w->index);
    serving->threadsRunning_.fetch_sub(1);
    return 0;
}

void TimeServing::Pause(DWORD ms) {
    while (ms > 0 && !stop_.load()) {
        const DWORD slice = ms < kServeWaitMs ? ms : kServeWaitMs;
        ports_.ticks.Sleep(slice);
        ms -= slice;
    }
}

// The threads keep the process's normal priority: in the REALTIME class the service runs in
// for the loop's sake that is 24, under the loop's 31, so the loop's corrections come first.
// Lowering it would not protect the desktop (even THREAD_PRIORITY_IDLE is 16 in that class,
// above every normal program): the CPU budget does. Under a flood the threads are busy at
// most `cpuPercent_` of the time, counted from each wake-up to its answer (the receive
// included when it did not wait), and then sleep; the datagrams meanwhile wait in the
// socket's receive buffer, or the system drops them.
void TimeServing::ServeUntilStopped(int index) {
    int failures = 0;
    bool reported = false;
    while (!stop_.load()) {
        const int64_t called = Counter();
        int64_t wokeAt = 0;
        const int error = server_.ServeOne(index, &wokeAt);
        if (error != 0) {
            // A failing receive returns at once: without a pause the thread would spin.
            if (++failures % kFailuresBeforeReopen == 0) {
                if (!reported && onReceiveFailing_) onReceiveFailing_(error);
                reported = true;
                server_.Reopen(index);
            }
            Pause(kFailureWaitMs);
            continue;
        }
        failures = 0;
        reported = false;
        if (cpuPercent_ >= 100) continue;
        // A receive that returned at once (a datagram was waiting) was work too, and under
        // Wine a costly one; one that waited was not.
        const bool waited = (wokeAt - called) * 1000 > frequency_;  // over 1 ms
        Pause(Charge(waited ? wokeAt : called, Counter()));
    }
}

DWORD TimeServing::Charge(int64_t wokeAt, int64_t now) {
    const int64_t windowCounts = frequency_ * kBudgetWindowMs / 1000;
    if (windowCounts <= 0) return 0;
    sync::LockGuard guard(budgetLock_);
    if (now < resumeAt_) return static_cast<DWORD>((resumeAt_ - now) * 1000 / frequency_);
    busy_ += now - wokeAt;
    if (busy_ * 100 >= windowCounts * static_cast<int64_t>(cpuPercent_)) {
        // Busy B takes B * 100 / percent of time in all, the rest asleep.
        const int64_t due = windowStart_ + busy_ * 100 / cpuPercent_;
        windowStart_ = due > now ? due : now;
        busy_ = 0;
        resumeAt_ = due;
        return due > now ? static_cast<DWORD>((due - now) * 1000 / frequency_) : 0;
    }
    if (now - windowStart_ >= windowCounts) {
        windowStart_ = now;
        busy_ = 0;
    }
    return 0;
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
    noted_ = reference;
    handover_.Hand(reading);
}

void TimeServing::NoteTime(const CardTime* time, int64_t before) {
    const int64_t after = Counter();
    CardReading reading;
    if (time == nullptr || !MakeTimeReading(*time, before, after, frequency_, &reading)) {
        reading = CardReading{};
        reading.kind = CardReading::kTimeFailed;
    }
    reading.reference = noted_;  // the reference the card had when it was read
    handover_.Hand(reading);
}

}  // namespace qxr::ntp
