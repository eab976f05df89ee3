// CNTService: everything a Windows service program needs that is not its own work - the
// command line (install, remove, version), registration with the service control manager and
// the event log, the control dispatcher, status reports, the control handler, events and a
// debug trace. A derived class supplies the work through the virtual operations.
#pragma once

#include <atomic>

#include "platform/ports/console_output.h"
#include "platform/ports/platform.h"
#include "platform/ports/win_defs.h"
#include "sync_service/service_lock.h"

#if defined(__GNUC__)
#define QXR_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QXR_PRINTF_LIKE(fmt, args)
#endif

namespace qxr::sync {

class CNTService {
  public:
    static constexpr int kNameSize = 64;
    static constexpr int kDescriptionSize = 128;
    static constexpr int kTraceSize = 1024;

    // displayName and description may be null. Registers this object as the process's one
    // instance, which the static entry points reach.
    CNTService(platform::Platform ports, platform::ConsoleOutput& console, const char* serviceName,
               const char* displayName, const char* description);
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // Virtual operations, in slot order.
    virtual ~CNTService();
    virtual void Run();
    virtual bool OnInit();
    virtual void OnInstall();
    virtual void OnRemove();
    virtual void OnStop();
    virtual void OnInterrogate();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    virtual bool OnUserControl(DWORD control);

    // True when the first argument named a command (it has then been carried out).
    bool ProcessCommandLine(int argc, char** argv);
    bool CheckInstalled();
    bool InstallService();
    bool RemoveService();
    DWORD QueryCurrentState();
    // False at once when the program was not started by the service control manager.
    bool RunDispatcher();

    // The service control manager's entry points; they reach the one instance.
    static void ServiceMain(DWORD argc, char** argv);
    static void Handler(DWORD control);
    static CNTService* Instance() { return s_instance; }

    bool Initialize();
    void SetStatus(DWORD state);
    // Up to three insertion strings, filled from the first on; null ones are not passed.
    void ReportServiceEvent(WORD type, DWORD eventId, const char* string1 = nullptr,
                            const char* string2 = nullptr, const char* string3 = nullptr);
    void TraceMsg(const char* format, ...) QXR_PRINTF_LIKE(2, 3);

    const char* ServiceName() const { return serviceName_; }
    const char* DisplayName() const { return displayName_; }
    const char* Description() const { return description_; }
    // A consistent copy of the status record.
    SERVICE_STATUS CurrentStatus();
    bool IsRunning() const { return running_.load(); }
    // Lowered by the stop control, or by the service's own work when it must end.
    void LowerRunningFlag() { running_.store(false); }

  protected:
    platform::Platform& Ports() { return ports_; }
    platform::ConsoleOutput& Console() { return console_; }
    // printf into a bounded line, then to the console.
    void Print(const char* format, ...) QXR_PRINTF_LIKE(2, 3);

  private:
    void RunServiceMain();
    void HandleControl(DWORD control);
    void PrintVersion();

    SERVICE_STATUS status_;
    char serviceName_[kNameSize];
    char displayName_[kNameSize];
    char description_[kDescriptionSize];
    std::atomic<bool> running_;
    HANDLE eventSource_;
    SERVICE_STATUS_HANDLE statusHandle_;

    platform::Platform ports_;
    platform::ConsoleOutput& console_;
    ServiceLock statusLock_;  // the status record together with its report
    ServiceLock eventLock_;   // opening the event source

    static CNTService* s_instance;
};

}  // namespace qxr::sync
