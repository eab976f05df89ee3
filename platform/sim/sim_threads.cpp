#include "platform/sim/sim_threads.h"

#include <atomic>
#include <chrono>
#include <cstring>

namespace qxr::sim {

namespace {

std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;
thread_local int64_t t_startTime = -1;
thread_local bool t_virtual = true;  // false on the real threads SimThreads starts

// Runs a routine as a simulated thread on the current OS thread.
void RunAs(platform::ThreadRoutine routine, LPVOID parameter, DWORD id, int64_t start) {
    const DWORD savedId = t_threadId;
    const int64_t savedStart = t_startTime;
    t_threadId = id;
    t_startTime = start;
    routine(parameter);
    t_threadId = savedId;
    t_startTime = savedStart;
}

}  // namespace

SimThreads::~SimThreads() {
    JoinAll();
}

BOOL SimThreads::CreateThread(platform::ThreadRoutine routine, LPVOID parameter, DWORD* threadId) {
    if (failCreation_ || routine == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const DWORD id = g_nextThreadId.fetch_add(1);
    if (threadId != nullptr) *threadId = id;
    const int64_t start = Now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++created_;
        if (routine != inlineRoutine_ && mode_ == Mode::kReal) {
            real_.emplace_back([routine, parameter, id, start] {
                t_virtual = false;
                t_threadId = id;
                t_startTime = start;
                routine(parameter);
            });
            return TRUE;
        }
        if (routine != inlineRoutine_ && mode_ == Mode::kDeferred) {
            const int64_t delay = deferral_ ? deferral_() : 0;
            deferred_.push_back(Deferred{routine, parameter, start, start + delay, id});
            return TRUE;
        }
    }
    RunAs(routine, parameter, id, start);
    return TRUE;
}

DWORD SimThreads::GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

void SimThreads::RunDue() {
    while (true) {
        Deferred next{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (deferred_.empty() || deferred_.front().due > Now()) return;
            next = deferred_.front();
            deferred_.pop_front();
        }
        RunAs(next.routine, next.parameter, next.id, next.start);
    }
}

void SimThreads::JoinAll() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(real_);
    }
    for (std::thread& thread : threads) thread.join();
}

int SimThreads::CreatedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
}

int SimThreads::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(deferred_.size());
}

int64_t SimThreads::CurrentStartTime() {
    return t_startTime;
}
bool SimThreads::OnVirtualThread() {
    return t_virtual;
}

int SimMessageBoxes::MessageBoxA(HANDLE owner, LPCSTR text, LPCSTR caption, UINT style) {
    SimMessageBox box;
    box.owner = owner;
    box.text = text != nullptr ? text : "";
    box.caption = caption != nullptr ? caption : "";
    box.style = style;
    box.threadId = threads_ != nullptr ? threads_->GetCurrentThreadId() : 0;
    const bool virtualThread = SimThreads::OnVirtualThread();
    const int64_t now = virtualThread && now_ ? now_() : -1;
    box.shownAt = SimThreads::CurrentStartTime() >= 0 ? SimThreads::CurrentStartTime() : now;
    box.closedAt = now;

    std::unique_lock<std::mutex> lock(mutex_);
    boxes_.push_back(box);
    ++open_;
    if (open_ > maxOpen_) maxOpen_ = open_;
    if (!virtualThread && holdOpen_) {
        changed_.notify_all();
        const unsigned release = releases_;
        changed_.wait(lock, [&] { return releases_ != release || !holdOpen_; });
    }
    --open_;
    changed_.notify_all();
    return IDOK;
}

DWORD SimMessageBoxes::FormatMessageA(DWORD error, LPSTR buffer, DWORD size) {
    static const struct {
        DWORD error;
        const char* text;
    } kTexts[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
        {ERROR_ACCESS_DENIED, "Access is denied."},
        {ERROR_SERVICE_DISABLED,
         "The service cannot be started, either because it is disabled or because it has no "
         "enabled devices associated with it."},
        {ERROR_SERVICE_DOES_NOT_EXIST,
         "The specified service does not exist as an installed service."},
    };
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    for (const auto& entry : kTexts) {
        if (entry.error == error && std::strlen(entry.text) < size) {
            std::memcpy(buffer, entry.text, std::strlen(entry.text) + 1);
            return static_cast<DWORD>(std::strlen(entry.text));
        }
    }
    return 0;
}

void SimMessageBoxes::SetHoldOpen(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdOpen_ = hold;
    changed_.notify_all();
}

void SimMessageBoxes::ReleaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releases_;
    changed_.notify_all();
}

bool SimMessageBoxes::WaitForShown(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return static_cast<int>(boxes_.size()) >= count; });
}

std::vector<SimMessageBox> SimMessageBoxes::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

int SimMessageBoxes::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

int SimMessageBoxes::MaxOpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxOpen_;
}

DWORD SimModuleInfo::GetModuleFileNameA(char* buffer, DWORD size) {
    if (buffer == nullptr || size == 0) return 0;
    // As the API: cut to size - 1 characters and terminated.
    const DWORD n = static_cast<DWORD>(path_.size() < size - 1 ? path_.size() : size - 1);
    std::memcpy(buffer, path_.data(), n);
    buffer[n] = '\0';
    return n;
}

BOOL SimModuleInfo::GetFileVersion(platform::FileVersion* version) {
    if (!hasVersion_ || version == nullptr) return FALSE;
    *version = version_;
    return TRUE;
}

}  // namespace qxr::sim
