// One ordered record of the calls several simulated adapters receive, so that a test can
// check the order of work across the service control manager, the registry and the event log.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace qxr::sim {

class SimJournal {
  public:
    void Add(std::string entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

}  // namespace qxr::sim
