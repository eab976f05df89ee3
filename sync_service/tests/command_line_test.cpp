// The program's command line on the simulated machine: every option, its output text and
// the exit code, and installation and removal with the service control manager, the
// registry and the event log, failures included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

using testing::kEventSourceKey;
using testing::kParametersKey;
using testing::kProgramPath;
using testing::kServiceKey;

class CommandLineTest : public ::testing::Test {
  protected:
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "QxrSync.exe");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        SyncService service(m.ports, m.card, m.console);
        return RunServiceProgram(service, m.console, static_cast<int>(args.size()), argv.data());
    }
    void InstallQuietly() {
        ASSERT_EQ(Run({"-i"}), 0);
        m.console.Clear();
        m.journal.Clear();
        m.eventLog.Clear();
    }

    testing::ServiceTestMachine m;
};

TEST_F(CommandLineTest, NoArgumentPrintsUsageWhateverTheServiceState) {
    const std::string usage =
        "\nCommand line options:\n\n"
        "  qxrsync -i          Install and start the service\n"
        "  qxrsync -r          stop and Remove the service\n"
        "  qxrsync -v          display Version and status\n\n"
        "  net stop qxrsync    stop the service\n"
        "  net start qxrsync   start the service\n";
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(m.console.Text(), usage);  // not installed

    InstallQuietly();
    for (DWORD state : {SERVICE_STOPPED, SERVICE_RUNNING}) {
        m.services.SetState("QxrSync", state);
        m.console.Clear();
        EXPECT_EQ(Run({}), 0);
        EXPECT_EQ(m.console.Text(), usage);
    }
}

TEST_F(CommandLineTest, VersionAndInstalledState) {
    EXPECT_EQ(Run({"-v"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync version 1.0.0.2\nThe service is not installed.\n");

    InstallQuietly();
    EXPECT_EQ(Run({"-V"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync version 1.0.0.2\nThe service is currently installed.\n");

    m.console.Clear();
    m.module.SetVersion(false, platform::FileVersion{9, 9, 9, 9});
    EXPECT_EQ(Run({"-v"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync version 0.0.0.0\nThe service is currently installed.\n");

    m.console.Clear();
    m.services.FailCall(sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"-v"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync version 0.0.0.0\nThe service is not installed.\n");
}

TEST_F(CommandLineTest, UpperCaseOptionsActAndSecondArgumentIsIgnored) {
    EXPECT_EQ(Run({"-I", "-r"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync installed.\n");
    EXPECT_TRUE(m.services.HasService("QxrSync"));

    m.console.Clear();
    EXPECT_EQ(Run({"-U", "-i"}), 0);
    EXPECT_EQ(m.console.Text(), std::string("QxrSync removed.\n(You must delete the file \"") +
                                    kProgramPath + "\" yourself.)\n");
    EXPECT_FALSE(m.services.HasService("QxrSync"));
}

TEST_F(CommandLineTest, OtherArgumentsDoNothing) {
    for (const char* arg : {"/i", "/r", "/u", "/v", "-x", "i", "--i", "-ii", ""}) {
        m.journal.Clear();
        EXPECT_EQ(Run({arg}), 0) << arg;
        EXPECT_EQ(m.console.Text(), "") << arg;
        EXPECT_TRUE(m.journal.Entries().empty()) << arg;
        EXPECT_FALSE(m.services.HasService("QxrSync")) << arg;
    }
}

TEST_F(CommandLineTest, InstallRegistersInOrder) {
    EXPECT_EQ(Run({"-i"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync installed.\n");
    const std::vector<std::string> expected = {
        std::string("CreateService QxrSync \"") + kProgramPath + "\"",
        "RegCreateKey system\\currentcontrolset\\services\\eventlog\\application\\qxrsync",
        "RegSetValue "
        "system\\currentcontrolset\\services\\eventlog\\application\\qxrsync\\eventmessagefile",
        "RegSetValue "
        "system\\currentcontrolset\\services\\eventlog\\application\\qxrsync\\typessupported",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\description",
        "RegCreateKey system\\currentcontrolset\\services\\qxrsync\\parameters",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\logthreshold",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\msgthreshold",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\logsecsnogps",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\msgsecsnogps",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\maxadjustpct",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\rampduration",
        "RegSetValue system\\currentcontrolset\\services\\qxrsync\\parameters\\timesetbias",
        "StartService QxrSync",
        "ReportEvent 100",
    };
    std::vector<std::string> entries = m.journal.Entries();
    // The service's own key values written by the simulated SCM are not the program's work.
    EXPECT_EQ(entries, expected);

    sim::SimService service;
    ASSERT_TRUE(m.services.GetService("QxrSync", &service));
    EXPECT_EQ(service.displayName, "QxrSync Time Synchronizer");
    EXPECT_EQ(service.serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(service.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));

    sim::SimRegistryValue value;
    ASSERT_TRUE(m.registry.GetValue(kEventSourceKey, "EventMessageFile", &value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::string(value.data.begin(), value.data.end()),
              std::string(kProgramPath, sizeof kProgramPath));  // terminator included
    DWORD types = 0;
    ASSERT_TRUE(m.registry.GetDword(kEventSourceKey, "TypesSupported", &types));
    EXPECT_EQ(types, 7u);
    ASSERT_TRUE(m.registry.GetValue(kServiceKey, "Description", &value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(value.data.begin(), value.data.end()),
              std::string("Keeps the computer clock synchronized to the QXR card") + '\0');

    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(events[0].text, "The QxrSync service was installed.\r\n");
    EXPECT_EQ(m.registry.OpenHandleCount(), 0);
    EXPECT_EQ(m.services.OpenHandleCount(), 0);
}

TEST_F(CommandLineTest, InstallWhenInstalledTouchesNothing) {
    InstallQuietly();
    m.registry.SetDword(kParametersKey, "LogThreshold", 7);
    const int writes = m.registry.SetValueCount();
    EXPECT_EQ(Run({"-i"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync is already installed.\n");
    EXPECT_EQ(m.registry.SetValueCount(), writes);
    EXPECT_TRUE(m.journal.Entries().empty());
}

TEST_F(CommandLineTest, InstallFailures) {
    // No service control manager (no rights).
    m.services.FailCall(sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"-i"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync failed to install.  Error 5.\n");
    EXPECT_TRUE(m.journal.Entries().empty());
    m.services.ClearFailures();

    // A service of that name appears between the check and the creation.
    m.console.Clear();
    m.services.FailCall(sim::SimServiceManager::kCreateService, ERROR_SERVICE_EXISTS);
    EXPECT_EQ(Run({"-i"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync failed to install.  Error 1073.\n");
    EXPECT_TRUE(m.journal.Entries().empty());
    m.services.ClearFailures();
}

TEST_F(CommandLineTest, InstallWithoutEventSourceKeyLeavesTheServiceRegistered) {
    m.registry.FailOperation(sim::SimRegistry::kCreateKey, kEventSourceKey, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"-i"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync failed to install.  Error 5.\n");
    EXPECT_TRUE(m.services.HasService("QxrSync"));
    // OnInstall, the start and event 100 are skipped.
    EXPECT_FALSE(m.registry.HasKey(kParametersKey));
    sim::SimService service;
    ASSERT_TRUE(m.services.GetService("QxrSync", &service));
    EXPECT_EQ(service.startCount, 0);
    EXPECT_TRUE(m.eventLog.Events().empty());
    EXPECT_EQ(m.services.OpenHandleCount(), 0);
}

TEST_F(CommandLineTest, EmptyDescriptionIsNotWritten) {
    CNTService service(m.ports, m.console, "Plain", nullptr, nullptr);
    EXPECT_STREQ(service.DisplayName(), "Plain");
    ASSERT_TRUE(service.InstallService());
    EXPECT_TRUE(m.registry.HasKey("SYSTEM\\CurrentControlSet\\Services\\Plain"));
    EXPECT_FALSE(m.registry.HasValue("SYSTEM\\CurrentControlSet\\Services\\Plain", "Description"));
}

TEST_F(CommandLineTest, RemoveInOrder) {
    InstallQuietly();
    m.services.SetState("QxrSync", SERVICE_RUNNING);
    EXPECT_EQ(Run({"-r"}), 0);
    EXPECT_EQ(m.console.Text(), std::string("QxrSync removed.\n(You must delete the file \"") +
                                    kProgramPath + "\" yourself.)\n");
    const std::vector<std::string> expected = {"ControlService QxrSync 1", "DeleteService QxrSync",
                                               "ReportEvent 101"};
    EXPECT_EQ(m.journal.Entries(), expected);
    EXPECT_FALSE(m.registry.HasKey(kParametersKey));
    // The event source stays registered.
    EXPECT_TRUE(m.registry.HasKey(kEventSourceKey));
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "The QxrSync service was removed.\r\n");
    EXPECT_EQ(m.services.OpenHandleCount(), 0);
}

TEST_F(CommandLineTest, RemoveFailures) {
    EXPECT_EQ(Run({"-r"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync is not installed.\n");

    InstallQuietly();
    m.services.FailCall(sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"-u"}), 0);
    EXPECT_EQ(m.console.Text(), "QxrSync is not installed.\n");
    m.services.ClearFailures();

    m.console.Clear();
    m.services.FailCall(sim::SimServiceManager::kDeleteService, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run({"-r"}), 0);
    EXPECT_EQ(m.console.Text(), "Could not remove QxrSync.  Error 5.\n");
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 102u);
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].text, "The QxrSync service could not be removed.\r\n");
    EXPECT_TRUE(m.services.HasService("QxrSync"));

    // Installed as far as the query can tell, but not to be opened for removal: the error,
    // no event, nothing stopped or restored.
    m.services.ClearFailures();
    m.console.Clear();
    m.eventLog.Clear();
    m.services.SetState("QxrSync", SERVICE_RUNNING);
    m.services.DenyServiceAccess(DELETE);
    EXPECT_EQ(Run({"-u"}), 0);
    EXPECT_EQ(m.console.Text(), "Could not remove QxrSync.  Error 5.\n");
    EXPECT_TRUE(m.Logged().empty());
    sim::SimService entry;
    ASSERT_TRUE(m.services.GetService("QxrSync", &entry));
    EXPECT_EQ(entry.state, static_cast<DWORD>(SERVICE_RUNNING));

    // A service that will not stop is still deleted.
    m.services.ClearFailures();
    m.console.Clear();
    m.services.SetState("QxrSync", SERVICE_RUNNING);
    m.services.SetRefusesStop("QxrSync", true);
    EXPECT_EQ(Run({"-r"}), 0);
    EXPECT_EQ(m.console.Text().rfind("QxrSync removed.\n", 0), 0u);
    EXPECT_FALSE(m.services.HasService("QxrSync"));
}

TEST_F(CommandLineTest, StringsLongerThanTheirBuffersAreCut) {
    const std::string longName(100, 'n');
    const std::string longText(300, 'd');
    CNTService service(m.ports, m.console, longName.c_str(), longText.c_str(), longText.c_str());
    EXPECT_EQ(std::string(service.ServiceName()), longName.substr(0, 63));
    EXPECT_EQ(std::string(service.DisplayName()), longText.substr(0, 63));
    EXPECT_EQ(std::string(service.Description()), longText.substr(0, 127));
}

}  // namespace
}  // namespace qxr::sync
