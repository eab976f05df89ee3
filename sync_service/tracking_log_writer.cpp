#include "sync_service/tracking_log_writer.h"

#include "sync_service/service_lock.h"
#include "sync_service/service_signal.h"

namespace qxr::sync {

struct TrackingLogWriter::Shared {
    Shared(platform::FileSystem& files, const TrackingLogSettings& settings)
        : log(files, settings) {}

    TrackingLog log;
    ServiceLock lock;
    ServiceSignal idle;  // raised while no thread runs
    // Under `lock`:
    TrackingRecord queue[kTrackingQueueSize];
    int head = 0;
    int count = 0;
    bool running = false;
    bool abandoned = false;  // the owner has gone: the thread frees this block
    bool failing = false;
    DWORD failedError = 0;
    uint32_t dropped = 0;
    uint32_t droppedCaughtUp = 0;
};

TrackingLogWriter::TrackingLogWriter(platform::Threads& threads, platform::FileSystem& files,
                                     const TrackingLogSettings& settings)
    : threads_(threads), shared_(new Shared(files, settings)) {}

TrackingLogWriter::~TrackingLogWriter() {
    Stop(kTrackingStopWaitMs);
    delete shared_;
}

const char* TrackingLogWriter::Path() const {
    return shared_ != nullptr ? shared_->log.Path() : "";
}

void TrackingLogWriter::Post(const TrackingRecord& record) {
    if (shared_ == nullptr) return;
    {
        LockGuard guard(shared_->lock);
        if (shared_->count == kTrackingQueueSize) {
            ++shared_->dropped;
        } else {
            shared_->queue[(shared_->head + shared_->count) % kTrackingQueueSize] = record;
            ++shared_->count;
        }
        if (shared_->running) return;
        shared_->running = true;
        shared_->idle.Lower();
    }
    // Outside the lock: a simulated thread may run inline, before CreateThread returns.
    DWORD threadId = 0;
    if (!threads_.CreateThread(&TrackingLogWriter::ThreadRoutine, shared_, &threadId)) {
        // The lines stay queued; the next post tries again.
        LockGuard guard(shared_->lock);
        shared_->running = false;
        shared_->idle.Raise();
    }
}

TrackingLogWriter::Outcome TrackingLogWriter::TakeOutcome() {
    Outcome outcome;
    if (shared_ == nullptr) return outcome;
    LockGuard guard(shared_->lock);
    outcome.failedError = shared_->failedError;
    outcome.droppedLines = shared_->droppedCaughtUp;
    shared_->failedError = 0;
    shared_->droppedCaughtUp = 0;
    return outcome;
}

bool TrackingLogWriter::Stop(DWORD timeoutMs) {
    if (shared_ == nullptr) return false;
    shared_->idle.Wait(timeoutMs);
    LockGuard guard(shared_->lock);
    if (!shared_->running) return true;
    shared_->abandoned = true;
    shared_ = nullptr;
    return false;
}

DWORD TrackingLogWriter::ThreadRoutine(LPVOID parameter) {
    Shared* shared = static_cast<Shared*>(parameter);
    bool freeShared = false;
    while (true) {
        TrackingRecord record;
        {
            LockGuard guard(shared->lock);
            if (shared->count == 0 || shared->abandoned) {
                shared->running = false;
                if (shared->abandoned) {
                    freeShared = true;
                } else {
                    // Caught up: what was dropped meanwhile can now be told.
                    shared->droppedCaughtUp += shared->dropped;
                    shared->dropped = 0;
                    shared->idle.Raise();
                }
                break;
            }
            record = shared->queue[shared->head];
            shared->head = (shared->head + 1) % kTrackingQueueSize;
            --shared->count;
        }
        const DWORD error = shared->log.Append(record);
        LockGuard guard(shared->lock);
        if (error == ERROR_SUCCESS) {
            shared->failing = false;
        } else if (!shared->failing) {
            shared->failing = true;
            shared->failedError = error;
        }
    }
    if (freeShared) delete shared;
    return 0;
}

}  // namespace qxr::sync
