// A plain mutual-exclusion lock and its scope guard. The mingw runtime of the Windows builds
// has no std::mutex (win32 thread model), so Windows uses a critical section.
#pragma once

#ifdef _WIN32
#include "platform/ports/win_defs.h"
#else
#include <mutex>
#endif

namespace qxr::sync {

class ServiceLock {
  public:
#ifdef _WIN32
    ServiceLock() {
        InitializeCriticalSection(&section_);
    }
    ~ServiceLock() {
        DeleteCriticalSection(&section_);
    }
    void Lock() {
        EnterCriticalSection(&section_);
    }
    void Unlock() {
        LeaveCriticalSection(&section_);
    }
    // NT 4.0 has it (Windows 95 did not).
    bool TryLock() {
        return TryEnterCriticalSection(&section_) != FALSE;
    }
#else
    ServiceLock() = default;
    void Lock() {
        mutex_.lock();
    }
    void Unlock() {
        mutex_.unlock();
    }
    bool TryLock() {
        return mutex_.try_lock();
    }
#endif
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

  private:
#ifdef _WIN32
    CRITICAL_SECTION section_;
#else
    std::mutex mutex_;
#endif
};

class LockGuard {
  public:
    explicit LockGuard(ServiceLock& lock) : lock_(lock) { lock_.Lock(); }
    ~LockGuard() { lock_.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    ServiceLock& lock_;
};

}  // namespace qxr::sync
