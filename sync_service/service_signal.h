// A manual-reset signal that one thread raises and another waits for, with a time limit. As
// with ServiceLock, the mingw runtime of the Windows builds has no std::condition_variable
// (win32 thread model), so Windows uses an event object.
#pragma once

#ifdef _WIN32
#include "platform/ports/win_defs.h"
#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#endif

namespace qxr::sync {

class ServiceSignal {
  public:
#ifdef _WIN32
    // Raised at the start. Without an event object Wait cannot block: it then returns at once.
    ServiceSignal() : event_(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}
    ~ServiceSignal() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    void Raise() {
        if (event_ != nullptr) SetEvent(event_);
    }
    void Lower() {
        if (event_ != nullptr) ResetEvent(event_);
    }
    // True when the signal was raised within `timeoutMs`.
    bool Wait(DWORD timeoutMs) {
        return event_ == nullptr || WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0;
    }
#else
    ServiceSignal() = default;
    void Raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = true;
        changed_.notify_all();
    }
    void Lower() {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = false;
    }
    bool Wait(DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return raised_; });
    }
#endif
    ServiceSignal(const ServiceSignal&) = delete;
    ServiceSignal& operator=(const ServiceSignal&) = delete;

  private:
#ifdef _WIN32
    HANDLE event_;
#else
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = true;
#endif
};

}  // namespace qxr::sync
