// Raises the process's priority class and the calling thread's priority for a critical
// stretch, and puts back whatever it changed when it goes out of scope. When the current
// class cannot be read it changes nothing.
#pragma once

#include "platform/ports/process_control.h"

namespace qxr::discipline {

class PriorityBoost {
  public:
    PriorityBoost(platform::ProcessScheduling& scheduling, DWORD priorityClass, int threadPriority);
    ~PriorityBoost();
    PriorityBoost(const PriorityBoost&) = delete;
    PriorityBoost& operator=(const PriorityBoost&) = delete;

    bool ClassChanged() const { return classChanged_; }
    bool ThreadChanged() const { return threadChanged_; }

  private:
    platform::ProcessScheduling& scheduling_;
    HANDLE process_;
    HANDLE thread_;
    DWORD savedClass_;
    int savedThreadPriority_;
    bool classChanged_ = false;
    bool threadChanged_ = false;
};

}  // namespace qxr::discipline
