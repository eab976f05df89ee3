// The simulated event log and debug output. The event log records every report (source,
// type, category, id, insertion strings) and can render its text through a message table the
// program supplies; opening a source can be made to fail. The debug output keeps its lines.
// Both are safe to use from several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports/event_log.h"
#include "platform/sim/sim_journal.h"

namespace qxr::sim {

struct SimEvent {
    std::string source;
    WORD type = 0;
    WORD category = 0;
    DWORD id = 0;
    std::vector<std::string> strings;
    // Virtual time of the report when a time source is set, else 0.
    int64_t time = 0;
};

class SimEventLog : public platform::EventLog {
  public:
    // Renders message `id` with its insertion strings; false for an unknown id.
    using MessageTable =
        std::function<bool(DWORD id, const std::vector<std::string>& strings, std::string* text)>;

    HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR sourceName) override;
    BOOL DeregisterEventSource(HANDLE source) override;
    BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, WORD numStrings,
                      LPCSTR* strings) override;

    void SetMessageTable(MessageTable table) { table_ = std::move(table); }
    // Called at each report to stamp it (e.g. the simulated clock's true time).
    void SetTimeSource(std::function<int64_t()> now) { now_ = std::move(now); }
    void SetJournal(SimJournal* journal) { journal_ = journal; }
    // The next `count` RegisterEventSourceA calls fail.
    void FailRegistrations(int count);

    std::vector<SimEvent> Events() const;
    std::vector<DWORD> EventIds() const;
    // The text of event `index` as the event viewer would show it; empty without a table.
    std::string Render(std::size_t index) const;
    int RegisterCount() const;
    int OpenSourceCount() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<SimEvent> events_;
    std::vector<std::pair<HANDLE, std::string>> sources_;  // open ones
    MessageTable table_;
    std::function<int64_t()> now_;
    SimJournal* journal_ = nullptr;
    int failRegistrations_ = 0;
    int registerCount_ = 0;
    std::uintptr_t nextHandle_ = 0x3000;
};

class SimDebugOutput : public platform::DebugOutput {
  public:
    void OutputDebugStringA(LPCSTR text) override;
    std::vector<std::string> Lines() const;
    // True when some line contains `text`.
    bool Contains(const std::string& text) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace qxr::sim
