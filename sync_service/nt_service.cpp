// CNTService: construction, the service side (ServiceMain, Initialize, status, control
// handler), events and the debug trace. The command-line side is in nt_service_commands.cpp.
#include "sync_service/nt_service.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sync_service/event_messages.h"

namespace qxr::sync {

CNTService* CNTService::s_instance = nullptr;

namespace {

void CopyBounded(char* target, std::size_t size, const char* source) {
    if (source == nullptr) source = "";
    std::size_t n = std::strlen(source);
    if (n > size - 1) n = size - 1;
    std::memcpy(target, source, n);
    target[n] = '\0';
}

// Handles go into trace lines as numbers; the trace only needs to tell them apart.
unsigned long HandleNumber(const void* handle) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(handle));
}

}  // namespace

CNTService::CNTService(platform::Platform ports, platform::ConsoleOutput& console,
                       const char* serviceName, const char* displayName, const char* description)
    : status_{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0, 0, 0},
      running_(false),
      eventSource_(nullptr),
      statusHandle_(nullptr),
      ports_(ports),
      console_(console) {
    CopyBounded(serviceName_, sizeof serviceName_, serviceName);
    CopyBounded(displayName_, sizeof displayName_,
                displayName != nullptr ? displayName : serviceName_);
    CopyBounded(description_, sizeof description_, description);
    s_instance = this;
}

CNTService::~CNTService() {
    TraceMsg("CNTService::~CNTService()");
    if (eventSource_ != nullptr) ports_.eventLog.DeregisterEventSource(eventSource_);
    if (s_instance == this) s_instance = nullptr;
}

void CNTService::Run() {
    TraceMsg("Entering CNTService::Run()");
    while (running_.load()) {
        TraceMsg("Sleeping...");
        ports_.ticks.Sleep(5000);
    }
    TraceMsg("Leaving CNTService::Run()");
}

bool CNTService::OnInit() {
    TraceMsg("CNTService::OnInit()");
    return true;
}

void CNTService::OnInstall() {}
void CNTService::OnRemove() {}
void CNTService::OnStop() {
    TraceMsg("CNTService::OnStop()");
}
void CNTService::OnInterrogate() {
    TraceMsg("CNTService::OnInterrogate()");
}
void CNTService::OnPause() {
    TraceMsg("CNTService::OnPause()");
}
void CNTService::OnContinue() {
    TraceMsg("CNTService::OnContinue()");
}
void CNTService::OnShutdown() {
    TraceMsg("CNTService::OnShutdown()");
}

bool CNTService::OnUserControl(DWORD control) {
    TraceMsg("CNTService::OnUserControl(%8.8lXH)", static_cast<unsigned long>(control));
    return false;
}

void CNTService::ServiceMain(DWORD /*argc*/, char** /*argv*/) {
    if (s_instance != nullptr) s_instance->RunServiceMain();
}

void CNTService::Handler(DWORD control) {
    if (s_instance != nullptr) s_instance->HandleControl(control);
}

void CNTService::RunServiceMain() {
    TraceMsg("Entering CNTService::ServiceMain()");
    {
        LockGuard guard(statusLock_);
        status_.dwCurrentState = SERVICE_START_PENDING;
    }
    const SERVICE_STATUS_HANDLE handle =
        ports_.services.RegisterServiceCtrlHandlerA(serviceName_, &CNTService::Handler);
    {
        LockGuard guard(statusLock_);
        statusHandle_ = handle;
    }
    if (handle == nullptr) {
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kMsgCtrlHandlerNotInstalled);
        return;
    }
    running_.store(true);
    if (Initialize()) {
        {
            LockGuard guard(statusLock_);
            status_.dwWin32ExitCode = 0;
            status_.dwCheckPoint = 0;
            status_.dwWaitHint = 0;
        }
        Run();
    } else {
        running_.store(false);
    }
    SetStatus(SERVICE_STOPPED);
    TraceMsg("Leaving CNTService::ServiceMain()");
}

bool CNTService::Initialize() {
    TraceMsg("Entering CNTService::Initialize()");
    SetStatus(SERVICE_START_PENDING);
    const bool ok = OnInit();
    {
        LockGuard guard(statusLock_);
        status_.dwCheckPoint = 0;
        status_.dwWaitHint = 0;
    }
    if (!ok) {
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kMsgFailedInit);
        SetStatus(SERVICE_STOPPED);
        return false;
    }
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgStarted);
    SetStatus(SERVICE_RUNNING);
    TraceMsg("Leaving CNTService::Initialize()");
    return true;
}

void CNTService::SetStatus(DWORD state) {
    LockGuard guard(statusLock_);
    TraceMsg("CNTService::SetStatus(%lu, %lu)", HandleNumber(statusHandle_),
             static_cast<unsigned long>(state));
    status_.dwCurrentState = state;
    ports_.services.SetServiceStatus(statusHandle_, &status_);
}

SERVICE_STATUS CNTService::CurrentStatus() {
    LockGuard guard(statusLock_);
    return status_;
}

void CNTService::HandleControl(DWORD control) {
    TraceMsg("CNTService::Handler(%lu)", static_cast<unsigned long>(control));
    switch (control) {
        case SERVICE_CONTROL_STOP:
            SetStatus(SERVICE_STOP_PENDING);
            OnStop();
            running_.store(false);
            ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kMsgStopped);
            break;
        case SERVICE_CONTROL_PAUSE:
            OnPause();
            break;
        case SERVICE_CONTROL_CONTINUE:
            OnContinue();
            break;
        case SERVICE_CONTROL_INTERROGATE:
            OnInterrogate();
            break;
        case SERVICE_CONTROL_SHUTDOWN:
            OnShutdown();
            break;
        default:
            if (control < 128 || !OnUserControl(control)) {
                ReportServiceEvent(EVENTLOG_ERROR_TYPE, kMsgBadRequest);
            }
            break;
    }
    LockGuard guard(statusLock_);
    TraceMsg("Updating status (%lu, %lu)", HandleNumber(statusHandle_),
             static_cast<unsigned long>(status_.dwCurrentState));
    ports_.services.SetServiceStatus(statusHandle_, &status_);
}

void CNTService::ReportServiceEvent(WORD type, DWORD eventId, const char* string1,
                                    const char* string2, const char* string3) {
    const char* strings[3];
    WORD count = 0;
    for (const char* s : {string1, string2, string3}) {
        if (s != nullptr) strings[count++] = s;
    }
    LockGuard guard(eventLock_);
    if (eventSource_ == nullptr) {
        eventSource_ = ports_.eventLog.RegisterEventSourceA(nullptr, serviceName_);
        if (eventSource_ == nullptr) return;  // lost; the next report tries again
    }
    ports_.eventLog.ReportEventA(eventSource_, type, 0, eventId, count,
                                 count > 0 ? strings : nullptr);
}

void CNTService::TraceMsg(const char* format, ...) {
    char line[kTraceSize];
    // Room is kept for the line feed, so a cut line is still one line.
    const int room = kTraceSize - 1;
    int used = std::snprintf(line, room, "[%s](%lu): ", serviceName_,
                             static_cast<unsigned long>(ports_.threads.GetCurrentThreadId()));
    if (used < 0) used = 0;
    if (used > room - 1) used = room - 1;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line + used, static_cast<std::size_t>(room - used), format, args);
    va_end(args);
    if (n > 0) used += n < room - used ? n : room - used - 1;
    line[used] = '\n';
    line[used + 1] = '\0';
    ports_.debug.OutputDebugStringA(line);
}

void CNTService::Print(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    console_.Write(text);
}

}  // namespace qxr::sync
