#include "install_tools/driver_installer.h"

#include <cstdio>
#include <cstring>

namespace qxr::install {

const char kOndrakUsage[] =
    "Windows NT device driver install/uninstall\n"
    "\n"
    "Command line format for install:\n"
    "\n"
    "  Ondrak <device name> <filename root> <display name>\n"
    "\n"
    "  Example:  Ondrak QxrDrv qxrkmdrv \"QXR Card Device Driver\"\n"
    "\n"
    "Command line format for uninstall:\n"
    "\n"
    "  Ondrak <device name>\n";

int DriverInstaller::Run(int argc, char** argv) {
    if (!IsWindowsNt4()) {
        ShowError(kWrongSystemText, kWrongSystemCaption);
        return 0;
    }
    const int count = argc - 1;
    if (count == 1) {
        RemoveDriver(argv[1]);
    } else if (count >= 3) {
        InstallDriver(argv[1], argv[2], argv + 3, count - 2);
    } else {
        console_.Write(kOndrakUsage);
    }
    return 0;
}

// Later NT versions are refused too: the driver model this installs for is NT 4's.
bool DriverInstaller::IsWindowsNt4() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ports_.version.GetVersionExA(&info);
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 4;
}

void DriverInstaller::InstallDriver(const char* serviceName, const char* fileRoot,
                                    const char* const* displayWords, int wordCount) {
    // Names that do not fit are refused before anything is created: a cut name would
    // register a service under a name or a file nobody asked for.
    std::string displayName;
    for (int i = 0; i < wordCount; ++i) {
        if (i > 0) displayName += ' ';
        displayName += displayWords[i];
    }
    if (displayName.size() >= kDisplayNameSize) {
        ShowError(kDisplayNameTooLongText);
        return;
    }
    char imagePath[kImagePathSize];
    const int pathLength = std::snprintf(imagePath, sizeof imagePath, kImagePathFormat, fileRoot);
    if (pathLength < 0 || static_cast<std::size_t>(pathLength) >= sizeof imagePath) {
        ShowError(kFileRootTooLongText);
        return;
    }

    platform::ServiceManager& services = ports_.services;
    DWORD error = 0;
    const SC_HANDLE manager =
        services.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        error = GetLastError();
    } else {
        platform::ServiceCreateParams params{};
        params.serviceName = serviceName;
        params.displayName = displayName.c_str();
        params.desiredAccess = SERVICE_ALL_ACCESS;
        params.serviceType = SERVICE_KERNEL_DRIVER;
        params.startType = SERVICE_AUTO_START;
        params.errorControl = SERVICE_ERROR_NORMAL;
        params.binaryPathName = imagePath;
        const SC_HANDLE service = services.CreateServiceA(manager, params);
        if (service != nullptr) {
            services.CloseServiceHandle(service);
            services.CloseServiceHandle(manager);
            return;
        }
        error = GetLastError();  // before the close can change it
        services.CloseServiceHandle(manager);
    }
    const bool exists = error == ERROR_SERVICE_EXISTS || error == ERROR_ALREADY_EXISTS;
    ShowError(exists ? kAlreadyInstalledText : kInstallAbortedText);
}

void DriverInstaller::ShowError(const char* text, const char* caption) {
    ports_.messageBoxes.MessageBoxA(nullptr, text, caption, kBoxStyle);
}

}  // namespace qxr::install
