#include "platform/sim/sim_event_log.h"

namespace qxr::sim {

HANDLE SimEventLog::RegisterEventSourceA(LPCSTR, LPCSTR sourceName) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++registerCount_;
    if (failRegistrations_ > 0 || sourceName == nullptr) {
        if (failRegistrations_ > 0) --failRegistrations_;
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 0x10;
    sources_.emplace_back(handle, sourceName);
    return handle;
}

BOOL SimEventLog::DeregisterEventSource(HANDLE source) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sources_.begin(); it != sources_.end(); ++it) {
        if (it->first == source) {
            sources_.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL SimEventLog::ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId,
                               WORD numStrings, LPCSTR* strings) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* name = nullptr;
    for (const auto& open : sources_) {
        if (open.first == source) name = &open.second;
    }
    if (name == nullptr || (numStrings > 0 && strings == nullptr)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SimEvent event;
    event.source = *name;
    event.type = type;
    event.category = category;
    event.id = eventId;
    for (WORD i = 0; i < numStrings; ++i) {
        event.strings.emplace_back(strings[i] != nullptr ? strings[i] : "");
    }
    if (now_) event.time = now_();
    if (journal_ != nullptr) journal_->Add("ReportEvent " + std::to_string(eventId));
    events_.push_back(std::move(event));
    return TRUE;
}

void SimEventLog::FailRegistrations(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failRegistrations_ = count;
}

std::vector<SimEvent> SimEventLog::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<DWORD> SimEventLog::EventIds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DWORD> ids;
    for (const SimEvent& event : events_) ids.push_back(event.id);
    return ids;
}

std::string SimEventLog::Render(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    if (index >= events_.size() || !table_) return text;
    if (!table_(events_[index].id, events_[index].strings, &text)) text.clear();
    return text;
}

int SimEventLog::RegisterCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registerCount_;
}

int SimEventLog::OpenSourceCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sources_.size());
}

void SimEventLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

void SimDebugOutput::OutputDebugStringA(LPCSTR text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(text != nullptr ? text : "");
}

std::vector<std::string> SimDebugOutput::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool SimDebugOutput::Contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : lines_) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

void SimDebugOutput::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

}  // namespace qxr::sim
