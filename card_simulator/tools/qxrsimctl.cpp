// qxrsimctl: sets the simulated card's state at run time through the simulator driver's
// scenario control request, and prints the resulting state.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "card_access/qxr_requests.h"
#include "card_simulator/sim_control.h"
#include "card_simulator/tools/sim_command_line.h"
#include "card_simulator/tools/sim_state_text.h"

namespace {

enum ExitStatus { kDone = 0, kBadArgument = 1, kDriverNotLoaded = 2, kRequestFailed = 3 };

int Run(const qxr::simctl::SimCommand& command) {
    HANDLE device = CreateFileA(QXR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            std::fprintf(stderr, "qxrsimctl: the simulator driver is not loaded (%s: error %lu)\n",
                         QXR_DEVICE_NAME, error);
            return kDriverNotLoaded;
        }
        std::fprintf(stderr, "qxrsimctl: cannot open %s: error %lu\n", QXR_DEVICE_NAME, error);
        return kRequestFailed;
    }

    QxrSimControl control = command.control;
    QxrSimState state = {};
    DWORD returned = 0;
    const bool changes = control.apply != 0;
    const BOOL ok =
        DeviceIoControl(device, IOCTL_QXR_SIM_CONTROL, changes ? &control : nullptr,
                        changes ? sizeof control : 0, &state, sizeof state, &returned, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(device);
    if (!ok) {
        if (error == ERROR_INVALID_FUNCTION) {
            std::fprintf(stderr,
                         "qxrsimctl: the driver behind %s is not the card simulator (error 1)\n",
                         QXR_DEVICE_NAME);
        } else {
            std::fprintf(stderr, "qxrsimctl: scenario control request failed: error %lu\n", error);
        }
        return kRequestFailed;
    }
    if (returned != sizeof state || state.size != sizeof state) {
        std::fprintf(stderr, "qxrsimctl: unexpected reply of %lu bytes from the driver\n",
                     returned);
        return kRequestFailed;
    }
    std::fputs(qxr::simctl::FormatSimState(state).c_str(), stdout);
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    qxr::simctl::SimCommand command;
    std::string error;
    if (!qxr::simctl::ParseSimCommand(args, &command, &error)) {
        std::fprintf(stderr, "qxrsimctl: %s\n%s", error.c_str(), qxr::simctl::SimUsage());
        return kBadArgument;
    }
    if (command.help) {
        std::fputs(qxr::simctl::SimUsage(), stdout);
        return kDone;
    }
    return Run(command);
}
