// Ondrak on the simulated PC: the version test, the modes by argument count, the service
// entry it creates, every message of its failure table and the stop wait of the removal.
#include "install_tools/driver_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_console.h"

namespace qxr::install {
namespace {

class DriverInstallerTest : public ::testing::Test {
  protected:
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "Ondrak.exe");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        DriverInstaller installer(pc.ports, console);
        return installer.Run(static_cast<int>(args.size()), argv.data());
    }
    // The one message box shown, as "caption: text"; "" when none, "many" for more.
    std::string Box() const {
        const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
        if (boxes.empty()) return "";
        if (boxes.size() > 1) return "many";
        EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONHAND | MB_SYSTEMMODAL));
        EXPECT_EQ(boxes[0].owner, nullptr);
        return boxes[0].caption + ": " + boxes[0].text;
    }
    void AddDriver(DWORD state) {
        sim::SimService driver;
        driver.name = "QxrDrv";
        driver.serviceType = SERVICE_KERNEL_DRIVER;
        driver.state = state;
        pc.services.AddService(driver);
    }
    int64_t NowMs() const { return (pc.clock.TrueTime() - start) / 10000; }

    sim::SimMachine pc;
    sim::RecordingConsole console;
    int64_t start = pc.clock.TrueTime();
};

const char kUsage[] =
    "Windows NT device driver install/uninstall\n\nCommand line format for install:\n\n"
    "  Ondrak <device name> <filename root> <display name>\n\n"
    "  Example:  Ondrak QxrDrv qxrkmdrv \"QXR Card Device Driver\"\n\n"
    "Command line format for uninstall:\n\n  Ondrak <device name>\n";

TEST_F(DriverInstallerTest, UsageForNoneOrTwoArguments) {
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(console.Text(), kUsage);
    console.Clear();
    EXPECT_EQ(Run({"QxrDrv", "qxrkmdrv"}), 0);
    EXPECT_EQ(console.Text(), kUsage);
    EXPECT_EQ(Box(), "");
}

TEST_F(DriverInstallerTest, AnythingButNt4IsRefusedBeforeTheArguments) {
    pc.process.SetMajorVersion(5);
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(Run({"QxrDrv", "qxrkmdrv", "QXR"}), 0);
    pc.process.SetMajorVersion(4);
    pc.process.SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(Run({"QxrDrv", "qxrkmdrv", "QXR"}), 0);
    EXPECT_EQ(console.Text(), "");
    const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const sim::SimMessageBox& box : boxes) {
        EXPECT_EQ(box.caption, "Wrong Operating System!");
        EXPECT_EQ(box.text, "This installer is for use with Windows NT 4 only.");
        EXPECT_EQ(box.style, static_cast<UINT>(MB_OK | MB_ICONHAND | MB_SYSTEMMODAL));
    }
    EXPECT_FALSE(pc.services.HasService("QxrDrv"));
}

TEST_F(DriverInstallerTest, InstallCreatesAnAutoStartKernelDriverSilently) {
    EXPECT_EQ(Run({"QxrDrv", "qxrkmdrv", "QXR Card Device Driver"}), 0);
    sim::SimService quoted;
    ASSERT_TRUE(pc.services.GetService("QxrDrv", &quoted));
    EXPECT_EQ(quoted.displayName, "QXR Card Device Driver");
    EXPECT_EQ(quoted.binaryPathName, "\\SystemRoot\\system32\\drivers\\qxrkmdrv.sys");
    EXPECT_EQ(quoted.serviceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(quoted.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(quoted.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(quoted.state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Box(), "");
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(pc.services.OpenHandleCount(), 0);

    pc.services.RemoveService("QxrDrv");
    EXPECT_EQ(Run({"QxrDrv", "qxrkmdrv", "QXR", "Card", "Device", "Driver"}), 0);
    sim::SimService words;
    ASSERT_TRUE(pc.services.GetService("QxrDrv", &words));
    EXPECT_EQ(words.displayName, quoted.displayName);
}

TEST_F(DriverInstallerTest, InstallFailuresTellExistingFromOthers) {
    AddDriver(SERVICE_RUNNING);
    Run({"QxrDrv", "qxrkmdrv", "QXR"});
    EXPECT_EQ(Box(), std::string("Error: ") + kAlreadyInstalledText);

    const struct {
        sim::SimServiceManager::Call call;
        DWORD error;
        const char* text;
    } cases[] = {
        {sim::SimServiceManager::kCreateService, ERROR_ALREADY_EXISTS, kAlreadyInstalledText},
        {sim::SimServiceManager::kCreateService, ERROR_ACCESS_DENIED, kInstallAbortedText},
        {sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED, kInstallAbortedText},
        {sim::SimServiceManager::kOpenSCManager, ERROR_SERVICE_EXISTS, kAlreadyInstalledText},
    };
    for (const auto& c : cases) {
        pc.services.ClearFailures();
        pc.services.FailCall(c.call, c.error);
        EXPECT_EQ(Run({"Other", "x", "X"}), 0);
        EXPECT_EQ(pc.messageBoxes.Boxes().back().text, c.text) << c.error;
    }
    EXPECT_FALSE(pc.services.HasService("Other"));
    EXPECT_EQ(pc.services.OpenHandleCount(), 0);
}

TEST_F(DriverInstallerTest, OverLongNamesAreRefusedAndNothingIsCreated) {
    const std::string root226(226, 'r');
    EXPECT_EQ(Run({"A", root226, std::string(199, 'n')}), 0);
    EXPECT_EQ(Box(), "");
    sim::SimService fits;
    ASSERT_TRUE(pc.services.GetService("A", &fits));
    EXPECT_EQ(fits.displayName.size(), 199u);
    EXPECT_EQ(fits.binaryPathName.size(), 259u);

    EXPECT_EQ(Run({"B", "qxrkmdrv", std::string(100, 'a'), std::string(99, 'b')}), 0);
    EXPECT_EQ(Box(), std::string("Error: ") + kDisplayNameTooLongText);
    EXPECT_EQ(Run({"C", root226 + "r", "QXR"}), 0);
    EXPECT_EQ(pc.messageBoxes.Boxes().back().text, kFileRootTooLongText);
    EXPECT_FALSE(pc.services.HasService("B"));
    EXPECT_FALSE(pc.services.HasService("C"));
}

TEST_F(DriverInstallerTest, RemoveStopsAndDeletesARunningDriver) {
    AddDriver(SERVICE_RUNNING);
    EXPECT_EQ(Run({"qxrdrv"}), 0);
    EXPECT_FALSE(pc.services.HasService("QxrDrv"));
    EXPECT_EQ(Box(), "");
    EXPECT_EQ(NowMs(), 0);
    EXPECT_EQ(pc.services.OpenHandleCount(), 0);
}

TEST_F(DriverInstallerTest, RemoveOfAStoppedDriverDeletesAfterOnePoll) {
    AddDriver(SERVICE_STOPPED);
    EXPECT_EQ(Run({"QxrDrv"}), 0);
    EXPECT_FALSE(pc.services.HasService("QxrDrv"));
    EXPECT_EQ(Box(), "");
    EXPECT_EQ(NowMs(), 100);
}

TEST_F(DriverInstallerTest, DriverThatNeverStopsIsStillDeletedAfterFifteenSeconds) {
    AddDriver(SERVICE_RUNNING);
    pc.services.SetRefusesStop("QxrDrv", true);
    EXPECT_EQ(Run({"QxrDrv"}), 0);
    EXPECT_EQ(Box(), "Error: Unable to stop driver");
    const int64_t shownMs = (pc.messageBoxes.Boxes()[0].shownAt - start) / 10000;
    EXPECT_GE(shownMs, 15000);
    EXPECT_LE(shownMs, 15100);
    EXPECT_FALSE(pc.services.HasService("QxrDrv"));
}

TEST_F(DriverInstallerTest, RemoveOfWhatCannotBeOpened) {
    EXPECT_EQ(Run({"NoSuchDriver"}), 0);
    EXPECT_EQ(Box(), "Error: Unable to remove driver");
    AddDriver(SERVICE_RUNNING);
    pc.services.FailCall(sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"QxrDrv"}), 0);
    EXPECT_EQ(pc.messageBoxes.Boxes().back().text, "Unable to remove driver");
    EXPECT_TRUE(pc.services.HasService("QxrDrv"));
    EXPECT_EQ(pc.services.OpenHandleCount(), 0);
}

}  // namespace
}  // namespace qxr::install
