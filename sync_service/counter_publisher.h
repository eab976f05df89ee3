// CounterPublisher: hands the synchronizer loop's figures to the performance counter DLL
// (perf_counters/) through the shared record of perf_counters/counter_record.h. Publishing
// is a copy into the section, only when a figure changed; it never waits for a reader.
#pragma once

#include "perf_counters/counter_record.h"
#include "platform/ports/shared_sections.h"

namespace qxr::sync {

class CounterPublisher {
  public:
    // Without `sections` (null) nothing is ever published.
    explicit CounterPublisher(platform::SharedSections* sections) : sections_(sections) {}
    // Closes the section: the readers then find none, which they show as a stopped service.
    ~CounterPublisher();
    CounterPublisher(const CounterPublisher&) = delete;
    CounterPublisher& operator=(const CounterPublisher&) = delete;

    // Creates the section: 0, or the error that left the service without counters.
    DWORD Open();
    bool IsOpen() const { return record_ != nullptr; }
    // Publishes `values` when they differ from the last ones published.
    void Publish(const perf::CounterValues& values);

  private:
    platform::SharedSections* sections_;
    perf::SharedRecord* record_ = nullptr;
    perf::CounterValues last_;
};

}  // namespace qxr::sync
