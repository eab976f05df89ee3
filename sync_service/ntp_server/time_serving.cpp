#include "sync_service/ntp_server/time_serving.h"

namespace qxr::ntp {

TimeServing::TimeServing(platform::Platform& ports, platform::DatagramSockets& sockets,
                         const NtpSettings& settings, Mode mode)
    : ports_(ports),
      mode_(mode),
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
    const DWORD start = ports_.ticks.GetTickCount();
    while (threadRunning_.load() && ports_.ticks.GetTickCount() - start < kStopWaitMs) {
        ports_.ticks.Sleep(10);
    }
    // A thread that has not ended may still be in a socket call: its sockets stay open
    // then, and go with the process.
    if (!threadRunning_.load()) server_.Close();
}

DWORD TimeServing::Thread(LPVOID self) {
    auto* serving = static_cast<TimeServing*>(self);
    while (!serving->stop_.load()) serving->server_.Serve(kServeWaitMs);
    serving->threadRunning_.store(false);
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
