// Ondrak, the driver installer: registers a kernel driver as an automatically started service
// or removes that registration, from its command line. It is tied to no one driver: service
// name, file name root and display name are arguments. Only for Windows NT 4: every other
// version is refused before anything else. The outcome is told by message boxes only; the
// exit code is always 0.
#pragma once

#include <string>

#include "platform/ports/console_output.h"
#include "platform/ports/platform.h"

namespace qxr::install {

extern const char kOndrakUsage[];

inline constexpr char kWrongSystemText[] = "This installer is for use with Windows NT 4 only.";
inline constexpr char kWrongSystemCaption[] = "Wrong Operating System!";
inline constexpr char kAlreadyInstalledText[] =
    "Driver installation cannot continue because another copy of this driver is already "
    "installed.";
inline constexpr char kInstallAbortedText[] = "Driver installation aborted.";
inline constexpr char kCannotRemoveText[] = "Unable to remove driver";
inline constexpr char kNotStoppedText[] = "Unable to stop driver";
inline constexpr char kDisplayNameTooLongText[] =
    "Driver installation aborted: the display name is longer than 199 characters.";
inline constexpr char kFileRootTooLongText[] =
    "Driver installation aborted: the file name root is longer than 226 characters.";
inline constexpr char kErrorCaption[] = "Error";
inline constexpr UINT kBoxStyle = MB_OK | MB_ICONHAND | MB_SYSTEMMODAL;

// What the service entry holds: the image path's buffer, and the display name's.
inline constexpr std::size_t kImagePathSize = 260;
inline constexpr std::size_t kDisplayNameSize = 200;
inline constexpr char kImagePathFormat[] = "\\SystemRoot\\system32\\drivers\\%s.sys";
// How long a driver may take to stop before it is deleted regardless.
inline constexpr DWORD kDriverStopTimeoutMs = 15000;

class DriverInstaller {
  public:
    DriverInstaller(platform::Platform& ports, platform::ConsoleOutput& console)
        : ports_(ports), console_(console) {}

    // The whole program: version test, then the mode by the number of arguments.
    // Returns the exit code, 0.
    int Run(int argc, char** argv);
    // The display name is the `wordCount` words joined by one blank each.
    void InstallDriver(const char* serviceName, const char* fileRoot,
                       const char* const* displayWords, int wordCount);
    void RemoveDriver(const char* serviceName);

  private:
    bool IsWindowsNt4();
    void ShowError(const char* text, const char* caption = kErrorCaption);

    platform::Platform& ports_;
    platform::ConsoleOutput& console_;
};

}  // namespace qxr::install
