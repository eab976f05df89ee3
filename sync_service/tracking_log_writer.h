// TrackingLogWriter: keeps the tracking log's file work off the synchronizer loop. The loop
// posts each finished record and never waits: a thread of the writer's own appends the
// queued records to the file. A file that blocks (a share whose server is gone, a failing
// disk, a pipe nobody reads) then holds only that thread, while the loop keeps its schedule.
// When the queue is full the record is dropped and counted; the count is handed to the loop
// once the writer has caught up, together with a write failure (once until a line is written
// again), for the loop to report.
//
// The thread runs while there is something queued and ends when the queue is empty; the
// next post starts a new one. On stop it is given a bounded time to finish; a thread still
// caught in a blocking call after that is left the queue and the file, which it frees itself.
#pragma once

#include <cstdint>

#include "platform/ports/file_system.h"
#include "platform/ports/threads.h"
#include "sync_service/tracking_log.h"
#include "sync_service/tracking_record.h"

namespace qxr::sync {

inline constexpr int kTrackingQueueSize = 64;  // ten minutes of lines at the default interval
inline constexpr DWORD kTrackingStopWaitMs = 2000;

class TrackingLogWriter {
  public:
    struct Outcome {
        DWORD failedError = 0;      // a write failure to report, 0 for none
        uint32_t droppedLines = 0;  // lines dropped while the writer was behind, now caught up
    };

    TrackingLogWriter(platform::Threads& threads, platform::FileSystem& files,
                      const TrackingLogSettings& settings);
    // Stops the writer (Stop with kTrackingStopWaitMs).
    ~TrackingLogWriter();
    TrackingLogWriter(const TrackingLogWriter&) = delete;
    TrackingLogWriter& operator=(const TrackingLogWriter&) = delete;

    const char* Path() const;
    // Queues the record (or counts it dropped) and starts the thread when none runs.
    void Post(const TrackingRecord& record);
    // What the loop has to report since the last call.
    Outcome TakeOutcome();
    // Waits up to `timeoutMs` for the thread to write what is queued; true when it has ended.
    bool Stop(DWORD timeoutMs);

    // The writer's thread routine (for simulations that run it inline).
    static DWORD ThreadRoutine(LPVOID shared);

  private:
    struct Shared;

    platform::Threads& threads_;
    Shared* shared_;  // null once handed to an abandoned thread
};

}  // namespace qxr::sync
