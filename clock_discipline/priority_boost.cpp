#include "clock_discipline/priority_boost.h"

namespace qxr::discipline {

PriorityBoost::PriorityBoost(platform::ProcessScheduling& scheduling, DWORD priorityClass,
                             int threadPriority)
    : scheduling_(scheduling),
      process_(scheduling.GetCurrentProcess()),
      thread_(scheduling.GetCurrentThread()),
      savedClass_(scheduling.GetPriorityClass(process_)),
      savedThreadPriority_(scheduling.GetThreadPriority(thread_)) {
    // A class that cannot be read could not be put back: then nothing is changed at all.
    if (savedClass_ == 0) return;
    // The class values are compared as numbers, as the system's own constants run.
    if (savedClass_ < priorityClass) {
        classChanged_ = scheduling_.SetPriorityClass(process_, priorityClass) != FALSE;
    }
    // A time-critical thread in the real-time class would starve the system's own threads.
    int target = threadPriority;
    if ((classChanged_ && priorityClass >= REALTIME_PRIORITY_CLASS) ||
        savedClass_ >= REALTIME_PRIORITY_CLASS) {
        target = THREAD_PRIORITY_LOWEST;
    }
    if (savedThreadPriority_ < target) {
        threadChanged_ = scheduling_.SetThreadPriority(thread_, target) != FALSE;
    }
}

PriorityBoost::~PriorityBoost() {
    if (threadChanged_) scheduling_.SetThreadPriority(thread_, savedThreadPriority_);
    if (classChanged_) scheduling_.SetPriorityClass(process_, savedClass_);
}

}  // namespace qxr::discipline
