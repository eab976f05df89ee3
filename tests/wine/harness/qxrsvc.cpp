// qxrsvc: the Wine harness's service control, with exact Win32 error numbers and waits for
// the state to settle (Wine's sc.exe reports neither). Prints "result=ok", "state=N" or
// "error=N" and exits 0 on success, 1 on failure, 2 on bad usage.
//   qxrsvc create NAME kernel|own|own-interactive auto|demand|disabled IMAGE [DISPLAY]
//   qxrsvc start NAME [TIMEOUT_MS]     waits until running
//   qxrsvc stop NAME [TIMEOUT_MS]      waits until stopped
//   qxrsvc delete NAME
//   qxrsvc state NAME                  1 stopped ... 4 running (SERVICE_* states)
//   qxrsvc interactive NAME            makes an own-process service interactive, so that its
//                                      service-notification boxes show on the test display
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Fail(DWORD error) {
    std::printf("error=%lu\n", error);
    return 1;
}

int Usage() {
    std::fprintf(stderr,
                 "Usage: qxrsvc create NAME kernel|own|own-interactive auto|demand|disabled "
                 "IMAGE [DISPLAY]\n"
                 "       qxrsvc start|stop NAME [TIMEOUT_MS]\n"
                 "       qxrsvc delete|state|interactive NAME\n");
    return 2;
}

bool ParseType(const char* word, DWORD* type) {
    if (std::strcmp(word, "kernel") == 0) {
        *type = SERVICE_KERNEL_DRIVER;
    } else if (std::strcmp(word, "own") == 0) {
        *type = SERVICE_WIN32_OWN_PROCESS;
    } else if (std::strcmp(word, "own-interactive") == 0) {
        *type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    } else {
        return false;
    }
    return true;
}

bool ParseStart(const char* word, DWORD* start) {
    if (std::strcmp(word, "auto") == 0) {
        *start = SERVICE_AUTO_START;
    } else if (std::strcmp(word, "demand") == 0) {
        *start = SERVICE_DEMAND_START;
    } else if (std::strcmp(word, "disabled") == 0) {
        *start = SERVICE_DISABLED;
    } else {
        return false;
    }
    return true;
}

// Polls until the service reaches `wanted`; false on timeout, or when a service being
// started has stopped again.
bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs, SERVICE_STATUS* status) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (!QueryServiceStatus(service, status)) return false;
        if (status->dwCurrentState == wanted) return true;
        if (wanted == SERVICE_RUNNING && status->dwCurrentState == SERVICE_STOPPED) return false;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

int Run(int argc, char** argv) {
    const char* verb = argv[1];
    const char* name = argv[2];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return Fail(GetLastError());

    int result = 0;
    if (std::strcmp(verb, "create") == 0) {
        DWORD type = 0;
        DWORD start = 0;
        if (argc < 6 || !ParseType(argv[3], &type) || !ParseStart(argv[4], &start)) {
            CloseServiceHandle(manager);
            return Usage();
        }
        SC_HANDLE service = CreateServiceA(manager, name, argc > 6 ? argv[6] : name,
                                           SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                           argv[5], nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service == nullptr) {
            result = Fail(GetLastError());
        } else {
            CloseServiceHandle(service);
            std::printf("result=ok\n");
        }
        CloseServiceHandle(manager);
        return result;
    }

    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return Fail(error);
    }
    const DWORD timeoutMs = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 10000;
    SERVICE_STATUS status = {};
    if (std::strcmp(verb, "start") == 0) {
        if (!StartServiceA(service, 0, nullptr)) {
            result = Fail(GetLastError());
        } else if (!WaitForState(service, SERVICE_RUNNING, timeoutMs, &status)) {
            std::printf("state=%lu exit=%lu\n", status.dwCurrentState, status.dwWin32ExitCode);
            result = Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
        } else {
            std::printf("result=ok\n");
        }
    } else if (std::strcmp(verb, "stop") == 0) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            result = Fail(GetLastError());
        } else if (!WaitForState(service, SERVICE_STOPPED, timeoutMs, &status)) {
            std::printf("state=%lu\n", status.dwCurrentState);
            result = Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
        } else {
            std::printf("result=ok\n");
        }
    } else if (std::strcmp(verb, "delete") == 0) {
        if (!DeleteService(service)) {
            result = Fail(GetLastError());
        } else {
            std::printf("result=ok\n");
        }
    } else if (std::strcmp(verb, "interactive") == 0) {
        if (!ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                  SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr)) {
            result = Fail(GetLastError());
        } else {
            std::printf("result=ok\n");
        }
    } else if (std::strcmp(verb, "state") == 0) {
        if (!QueryServiceStatus(service, &status)) {
            result = Fail(GetLastError());
        } else {
            std::printf("state=%lu\n", status.dwCurrentState);
        }
    } else {
        result = Usage();
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    return Run(argc, argv);
}
