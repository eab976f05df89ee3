// Simulated threads, message boxes and module information.
//
// SimThreads runs a started routine in one of three ways: on a real thread (joined when the
// adapter goes, for the thread-sanitizer tests), inline before CreateThread returns, or
// deferred in virtual time - queued and run, whole, once the time source has passed its start
// plus a scripted delay (RunDue, typically from a clock listener). A deferred thread so stands
// for one whose blocking call (a message box) stays open for that delay.
//
// SimMessageBoxes records every box with the virtual time at which its thread started and, for
// inline and deferred threads, the time it was closed; on real threads a box can be kept open
// until the test releases it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports/threads.h"

namespace qxr::sim {

using TimeSource = std::function<int64_t()>;

class SimThreads : public platform::Threads {
  public:
    enum class Mode { kReal, kInline, kDeferred };

    explicit SimThreads(Mode mode = Mode::kInline) : mode_(mode) {}
    ~SimThreads() override;

    BOOL CreateThread(platform::ThreadRoutine routine, LPVOID parameter, DWORD* threadId) override;
    DWORD GetCurrentThreadId() override;

    void SetMode(Mode mode) { mode_ = mode; }
    // Where virtual time comes from (e.g. the simulated clock's true time, in 100-ns units).
    void SetTimeSource(TimeSource now) { now_ = std::move(now); }
    // Delay, in the time source's units, of each deferred thread after its start.
    void SetDeferral(std::function<int64_t()> delay) { deferral_ = std::move(delay); }
    // Threads of this routine run inline whatever the mode: work that takes no virtual time
    // (a writer on the simulated file system) that a deferral would only hold back.
    void RunInline(platform::ThreadRoutine routine) { inlineRoutine_ = routine; }
    // CreateThread fails (ERROR_NOT_ENOUGH_MEMORY) while set.
    void FailCreation(bool fail) { failCreation_ = fail; }
    // Runs the deferred threads whose time has come, in order of start.
    void RunDue();
    // Waits for every real thread to end.
    void JoinAll();
    int CreatedCount() const;
    int PendingCount() const;

    // Virtual start time of the simulated thread this code runs on, or -1 outside one.
    static int64_t CurrentStartTime();
    // True on the thread that owns virtual time (inline and deferred threads run there).
    static bool OnVirtualThread();

  private:
    struct Deferred {
        platform::ThreadRoutine routine;
        LPVOID parameter;
        int64_t start;
        int64_t due;
        DWORD id;
    };
    int64_t Now() const { return now_ ? now_() : 0; }

    Mode mode_;
    TimeSource now_;
    std::function<int64_t()> deferral_;
    bool failCreation_ = false;
    platform::ThreadRoutine inlineRoutine_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::thread> real_;
    std::deque<Deferred> deferred_;
    int created_ = 0;
};

struct SimMessageBox {
    HANDLE owner = nullptr;
    std::string text;
    std::string caption;
    UINT style = 0;
    DWORD threadId = 0;
    int64_t shownAt = -1;   // virtual time the box came up
    int64_t closedAt = -1;  // virtual time it was closed; -1 when not known (real threads)
};

class SimMessageBoxes : public platform::MessageBoxes {
  public:
    explicit SimMessageBoxes(SimThreads* threads = nullptr) : threads_(threads) {}

    int MessageBoxA(HANDLE owner, LPCSTR text, LPCSTR caption, UINT style) override;
    // The texts of a few common codes, as Windows gives them; none for the others.
    DWORD FormatMessageA(DWORD error, LPSTR buffer, DWORD size) override;

    void SetTimeSource(TimeSource now) { now_ = std::move(now); }
    // Boxes shown on real threads stay open until released.
    void SetHoldOpen(bool hold);
    void ReleaseAll();
    // Waits until at least `count` boxes have been shown.
    bool WaitForShown(int count, int timeoutMs) const;
    std::vector<SimMessageBox> Boxes() const;
    int OpenCount() const;
    // The most boxes that were ever open at the same time.
    int MaxOpenCount() const;

  private:
    SimThreads* threads_;
    TimeSource now_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<SimMessageBox> boxes_;
    bool holdOpen_ = false;
    int open_ = 0;
    int maxOpen_ = 0;
    unsigned releases_ = 0;
};

class SimModuleInfo : public platform::ModuleInfo {
  public:
    SimModuleInfo(std::string path, bool hasVersion, platform::FileVersion version)
        : path_(std::move(path)), hasVersion_(hasVersion), version_(version) {}

    DWORD GetModuleFileNameA(char* buffer, DWORD size) override;
    BOOL GetFileVersion(platform::FileVersion* version) override;

    void SetPath(std::string path) { path_ = std::move(path); }
    void SetVersion(bool hasVersion, platform::FileVersion version) {
        hasVersion_ = hasVersion;
        version_ = version;
    }

  private:
    std::string path_;
    bool hasVersion_;
    platform::FileVersion version_;
};

}  // namespace qxr::sim
