// Ondrak.exe: the driver installer on the real Windows API. The exit code is always 0.
#include "install_tools/driver_installer.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_machine.h"

int main(int argc, char** argv) {
    qxr::win32::Win32Machine pc;
    qxr::win32::StdoutConsole console;
    return qxr::install::DriverInstaller(pc.ports, console).Run(argc, argv);
}
