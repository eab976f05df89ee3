// The hand-over with W32Time at installation and removal, and the seeding of the
// parameters, through the program's "-i" and "-r" on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

using testing::kNotedKey;
using testing::kParametersKey;

class W32TimeTest : public ::testing::Test {
  protected:
    std::string Run(const char* option) {
        m.console.Clear();
        char name[] = "QxrSync.exe";
        std::string arg = option;
        char* argv[] = {name, &arg[0], nullptr};
        SyncService service(m.ports, m.card, m.console);
        EXPECT_EQ(RunServiceProgram(service, m.console, 2, argv), 0);
        return m.console.Text();
    }
    void AddW32Time(DWORD startType, DWORD state) {
        sim::SimService w32time;
        w32time.name = "W32Time";
        w32time.startType = startType;
        w32time.state = state;
        m.services.AddService(w32time);
    }
    sim::SimService W32Time() const {
        sim::SimService service;
        EXPECT_TRUE(m.services.GetService("W32Time", &service));
        return service;
    }
    bool Noted(DWORD* value) const { return m.registry.GetDword(kNotedKey, "StartType", value); }

    testing::ServiceTestMachine m;
};

TEST_F(W32TimeTest, AbsentServiceChangesNothing) {
    EXPECT_EQ(Run("-i"), "QxrSync installed.\n");
    EXPECT_FALSE(m.registry.HasKey(kNotedKey));
    EXPECT_EQ(Run("-r").rfind("QxrSync removed.\n", 0), 0u);
}

TEST_F(W32TimeTest, AutomaticIsStoppedDisabledThenRestoredAndStarted) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    EXPECT_EQ(Run("-i"),
              "W32Time service stopped.\nW32Time service has been disabled.\nQxrSync installed.\n");
    EXPECT_EQ(W32Time().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
    DWORD noted = 0;
    ASSERT_TRUE(Noted(&noted));
    EXPECT_EQ(noted, static_cast<DWORD>(SERVICE_AUTO_START));

    const std::string removed = Run("-r");
    EXPECT_EQ(removed.rfind("W32Time service has been re-enabled.\nW32Time service started.\n"
                            "QxrSync removed.\n",
                            0),
              0u);
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(W32Time().state, static_cast<DWORD>(SERVICE_RUNNING));
}

// Each registry key is opened with the access its step asks for, and no more.
TEST_F(W32TimeTest, KeysAreOpenedWithTheirOwnAccessRights) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    Run("-i");
    {
        SyncService service(m.ports, m.card, m.console);
        EXPECT_TRUE(service.OnInit());
    }
    Run("-r");
    const std::string services = "system\\currentcontrolset\\services\\";
    const REGSAM seeding = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    const std::vector<std::pair<std::string, REGSAM>> expected = {
        {services + "qxrsync", KEY_WRITE},                    // the description
        {services + "qxrsync\\parameters", seeding},          // seeding
        {services + "qxrsync\\w32time", seeding},             // noting the start type
        {services + "qxrsync\\parameters", KEY_QUERY_VALUE},  // reading at start
        {services + "qxrsync\\w32time", KEY_QUERY_VALUE},     // restoring
    };
    std::vector<std::pair<std::string, REGSAM>> opened;
    for (const sim::SimRegistry::KeyAccess& access : m.registry.KeyAccesses()) {
        // The event source key is made with RegCreateKeyA, which takes no access argument.
        if (access.path.find("\\eventlog\\") != std::string::npos) continue;
        opened.emplace_back(access.path, access.access);
    }
    EXPECT_EQ(opened, expected);
}

TEST_F(W32TimeTest, ManualIsRestoredButNotStarted) {
    AddW32Time(SERVICE_DEMAND_START, SERVICE_RUNNING);
    Run("-i");
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(Run("-r").rfind("W32Time service has been re-enabled.\nQxrSync removed.\n", 0), 0u);
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(W32Time().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(W32Time().startCount, 0);
}

TEST_F(W32TimeTest, AlreadyStoppedIsStillDisabled) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_STOPPED);
    EXPECT_EQ(Run("-i"), "W32Time service has been disabled.\nQxrSync installed.\n");
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(W32TimeTest, ServiceThatRefusesToStopIsStillDisabled) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    m.services.SetRefusesStop("W32Time", true);
    EXPECT_EQ(Run("-i"), "W32Time service has been disabled.\nQxrSync installed.\n");
    EXPECT_EQ(W32Time().state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(W32TimeTest, AlreadyDisabledIsNotedAndNeverRestored) {
    AddW32Time(SERVICE_DISABLED, SERVICE_STOPPED);
    EXPECT_EQ(Run("-i"), "QxrSync installed.\n");
    DWORD noted = 0;
    ASSERT_TRUE(Noted(&noted));
    EXPECT_EQ(noted, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(Run("-r").rfind("QxrSync removed.\n", 0), 0u);
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(W32TimeTest, NotedValueFromAnEarlierInstallationIsKept) {
    AddW32Time(SERVICE_DISABLED, SERVICE_STOPPED);
    m.registry.SetDword(kNotedKey, "StartType", SERVICE_AUTO_START);
    Run("-i");
    DWORD noted = 0;
    ASSERT_TRUE(Noted(&noted));
    EXPECT_EQ(noted, static_cast<DWORD>(SERVICE_AUTO_START));
}

TEST_F(W32TimeTest, AStartTypeThatCannotBeNotedStillDisablesIt) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    m.registry.FailOperation(sim::SimRegistry::kSetValue, kNotedKey, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run("-i"),
              "W32Time service stopped.\nThe start type of W32Time could not be noted: after "
              "removal, re-enable W32Time by hand.\nW32Time service has been disabled.\n"
              "QxrSync installed.\n");
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
    m.registry.ClearFailures();
    Run("-r");
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(W32TimeTest, MissingNoteAtRemovalLeavesItDisabled) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    Run("-i");
    // Deleting the service removes its key; the note goes with it, as when deleted by hand.
    m.registry.DeleteValue(kNotedKey, "StartType");
    EXPECT_EQ(Run("-r").rfind("QxrSync removed.\n", 0), 0u);
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(W32TimeTest, FailuresEndTheStepQuietly) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    m.services.FailCall(sim::SimServiceManager::kQueryServiceConfig, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run("-i"), "W32Time service stopped.\nQxrSync installed.\n");
    EXPECT_FALSE(m.registry.HasKey(kNotedKey));
    EXPECT_EQ(W32Time().startType, static_cast<DWORD>(SERVICE_AUTO_START));
    m.services.ClearFailures();

    m.services.FailCall(sim::SimServiceManager::kChangeServiceConfig, ERROR_ACCESS_DENIED);
    m.registry.SetDword(kNotedKey, "StartType", SERVICE_AUTO_START);
    m.services.SetState("W32Time", SERVICE_STOPPED);
    EXPECT_EQ(Run("-r").rfind("W32Time service started.\nQxrSync removed.\n", 0), 0u);
    EXPECT_EQ(m.services.OpenHandleCount(), 0);
    EXPECT_EQ(m.registry.OpenHandleCount(), 0);
}

// --- Parameter seeding ----------------------------------------------------------------

TEST_F(W32TimeTest, SeedingWritesDefaultsAndKeepsPresentValues) {
    m.registry.SetDword(kParametersKey, "LogThreshold", 250);
    m.registry.SetValue(kParametersKey, "RampDuration", REG_BINARY, {1, 2});  // kept: shorter
    m.registry.SetValue(kParametersKey, "TimeSetBias", REG_BINARY, {1, 2, 3, 4, 5});  // replaced
    Run("-i");
    const struct {
        const char* name;
        DWORD value;
    } expected[] = {{"LogThreshold", 250}, {"MsgThreshold", 100}, {"LogSecsNoGPS", 10},
                    {"MsgSecsNoGPS", 10},  {"MaxAdjustPct", 100}, {"TimeSetBias", 15}};
    for (const auto& e : expected) {
        sim::SimRegistryValue value;
        ASSERT_TRUE(m.registry.GetValue(kParametersKey, e.name, &value)) << e.name;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << e.name;
        DWORD v = 0;
        ASSERT_TRUE(m.registry.GetDword(kParametersKey, e.name, &v)) << e.name;
        EXPECT_EQ(v, e.value) << e.name;
    }
    sim::SimRegistryValue ramp;
    ASSERT_TRUE(m.registry.GetValue(kParametersKey, "RampDuration", &ramp));
    EXPECT_EQ(ramp.data.size(), 2u);
}

TEST_F(W32TimeTest, UnwritableParametersKeyStillDisablesW32Time) {
    AddW32Time(SERVICE_AUTO_START, SERVICE_RUNNING);
    m.registry.FailOperation(sim::SimRegistry::kCreateKey, kParametersKey, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run("-i"),
              "W32Time service stopped.\nW32Time service has been disabled.\nQxrSync installed.\n");
    EXPECT_FALSE(m.registry.HasKey(kParametersKey));
}

}  // namespace
}  // namespace qxr::sync
