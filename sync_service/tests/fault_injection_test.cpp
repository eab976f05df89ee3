// Faults injected into a running QxrSync on the simulated PC, one table row each: the driver
// stopped or restarted at each point of a loop pass, failing, empty and short replies,
// unreadable parameters, a lost event log, a clock that refuses, the tick counter wrapping
// inside the waits; and the service manager refusing each of its calls in turn, for every way
// the program starts. Each row states whether the service keeps working or ends (and with
// which event), and every row checks that nothing is lost or left behind: the parameters as
// they were, the clock's rate and the priorities handed back, every handle closed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card_access/card_library.h"
#include "card_access/library_card_client.h"
#include "card_access/qxr_requests.h"
#include "card_simulator/sim_machine.h"
#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"
#include "sync_service/w32time_coordination.h"

namespace qxr::sync {
namespace {

using testing::kParametersKey;

constexpr int64_t kRunMs = 60000;

// Between the library and the simulated driver: replies cut short, and chosen requests failed.
class FaultyDevice : public platform::DeviceIo {
  public:
    explicit FaultyDevice(platform::DeviceIo& inner) : inner_(inner) {}
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override {
        return inner_.CreateFileA(name, access, share, disposition, flags);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned) override {
        if (code == failCode) {
            *returned = 0;
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        const BOOL ok = inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
        if (ok && maxReply > 0 && *returned > maxReply) {
            std::memset(static_cast<uint8_t*>(out) + maxReply, 0, *returned - maxReply);
            *returned = maxReply;
        }
        return ok;
    }
    BOOL CloseHandle(HANDLE device) override { return inner_.CloseHandle(device); }

    DWORD failCode = 0;
    DWORD maxReply = 0;  // 0: replies as the driver gives them

  private:
    platform::DeviceIo& inner_;
};

// The loop's calls into the library, with a hook after each.
class HookedCard : public card_access::CardClient {
  public:
    explicit HookedCard(card_access::CardClient& inner) : inner_(inner) {}
    uint32_t GetHwStatus(CardStatus* status) override {
        const uint32_t result = inner_.GetHwStatus(status);
        if (afterStatus) afterStatus();
        return result;
    }
    uint32_t GetTime(CardTime* time) override {
        const uint32_t result = inner_.GetTime(time);
        if (result == 0) ++timesRead;
        if (afterTime) afterTime();
        return result;
    }
    uint32_t SetTime(const CardTime* time) override { return inner_.SetTime(time); }

    std::function<void()> afterStatus, afterTime;
    int timesRead = 0;

  private:
    card_access::CardClient& inner_;
};

struct Outcome {
    bool ranToTheStop = false;  // still working when the stop came
    std::vector<DWORD> events;  // ids, in order
    std::string lastEventText;
    int timesRead = 0;
};

// One QxrSync run started by the service manager, stopped after kRunMs, on `m`.
struct Bench {
    Bench() : m(testing::DefaultClockConfig()), faulty(m.device) {
        m.registry.SetDword(kParametersKey, "LogThreshold", 0);
        m.registry.SetValue(kParametersKey, "MsgThreshold", REG_BINARY, {1, 2, 3, 4, 5});
        m.PrepareRun(kRunMs);
    }

    // The driver's service life as the loop sees it at one point.
    void RestartDriver() {
        m.device.Stop();
        m.device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
    }

    Outcome Run(const std::function<void(Bench&, HookedCard&)>& inject) {
        sim::SimRegistryValue parametersBefore[2];
        m.registry.GetValue(kParametersKey, "LogThreshold", &parametersBefore[0]);
        m.registry.GetValue(kParametersKey, "MsgThreshold", &parametersBefore[1]);
        Outcome outcome;
        {
            card_access::CardLibrary lib(faulty);
            card_access::LibraryCardClient client(lib);
            HookedCard card(client);
            inject(*this, card);
            {
                SyncService service(m.ports, card, m.console);
                EXPECT_TRUE(service.RunDispatcher());
                outcome.timesRead = card.timesRead;
            }
            EXPECT_EQ(m.eventLog.OpenSourceCount(), 0);
        }
        outcome.ranToTheStop = m.NowMs() >= kRunMs;
        for (const auto& e : m.Logged()) {
            outcome.events.push_back(e.id);
            outcome.lastEventText = e.text;
        }
        // Nothing lost, nothing left behind.
        EXPECT_EQ(m.device.OpenHandles(), 0);
        EXPECT_EQ(m.registry.OpenHandleCount(), 0);
        EXPECT_EQ(m.services.OpenHandleCount(), 0);
        EXPECT_EQ(m.process.OpenTokenCount(), 0);
        EXPECT_TRUE(m.clock.AdjustmentDisabled() ||
                    m.clock.CurrentAdjustment() == m.clock.TimeIncrement());
        EXPECT_EQ(m.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
        EXPECT_EQ(m.process.ThreadPriority(), THREAD_PRIORITY_NORMAL);
        EXPECT_FALSE(m.process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
        sim::SimRegistryValue after;
        EXPECT_TRUE(m.registry.GetValue(kParametersKey, "LogThreshold", &after) &&
                    after.data == parametersBefore[0].data);
        EXPECT_TRUE(m.registry.GetValue(kParametersKey, "MsgThreshold", &after) &&
                    after.data == parametersBefore[1].data && after.type == REG_BINARY);
        sim::SimService entry;
        m.services.GetService(kSyncServiceName, &entry);
        EXPECT_EQ(entry.state, static_cast<DWORD>(SERVICE_STOPPED));
        return outcome;
    }

    testing::ServiceTestMachine m;
    FaultyDevice faulty;
};

struct LoopFault {
    const char* name;
    std::function<void(Bench&, HookedCard&)> inject;
    bool keepsWorking;
    std::vector<DWORD> events;
    const char* lastEventText;  // "" = not compared
    int minTimesRead;           // card time reads that succeeded
};

std::string Ids(const std::vector<DWORD>& ids) {
    std::string text;
    for (DWORD id : ids) text += (text.empty() ? "" : " ") + std::to_string(id);
    return text;
}

// `action` once, at the first call after 20 s of running.
std::function<void()> Once(Bench& b, std::function<void()> action) {
    auto done = std::make_shared<bool>(false);
    return [&b, action, done] {
        if (!*done && b.m.NowMs() >= 20000) {
            *done = true;
            action();
        }
    };
}

TEST(ServiceFaultInjection, LoopFaultTable) {
    const std::vector<DWORD> normal = {105, 108, 106};
    const LoopFault rows[] = {
        {"driver restarted during the sleep before a pass",
         [](Bench& b, HookedCard&) { b.m.At(20250, [&b] { b.RestartDriver(); }); },
         false,
         {105, 108, 112},
         "Dll error: 5\r\n",
         2},
        {"driver stopped during the sleep and not started again",
         [](Bench& b, HookedCard&) { b.m.At(20250, [&b] { b.m.device.Stop(); }); },
         false,
         {105, 108, 112},
         "Dll error: 5\r\n",
         2},
        {"driver restarted between the status and the time read",
         [](Bench& b, HookedCard& card) {
             const auto restart = Once(b, [&b] { b.RestartDriver(); });
             // Only in a pass that goes on to read the time (one every 10 s).
             card.afterStatus = [&b, restart] {
                 if (b.m.NowMs() % 10000 == 0) restart();
             };
         },
         true, normal, "", 5},
        {"driver restarted after the time read, before the next pass",
         [](Bench& b, HookedCard& card) { card.afterTime = Once(b, [&b] { b.RestartDriver(); }); },
         false,
         {105, 108, 112},
         "Dll error: 5\r\n",
         3},
        {"every card request fails",
         [](Bench& b, HookedCard&) {
             b.m.At(20250, [&b] { b.m.device.Model().FailRequests(ERROR_GEN_FAILURE); });
         },
         false,
         {105, 108, 112},
         "Dll error: 31\r\n",
         2},
        {"only the time request fails",
         [](Bench& b, HookedCard&) { b.faulty.failCode = IOCTL_QXR_GET_TIME; }, true, normal, "",
         0},
        {"every reply empty",
         [](Bench& b, HookedCard&) { b.m.device.Model().ReturnNoData(true); },
         true,
         {105, 107, 106},
         "",
         0},
        {"replies cut to 12 bytes (no latch counter)",
         [](Bench& b, HookedCard&) { b.faulty.maxReply = 12; }, true, normal, "", 6},
        {"replies cut to 1 byte", [](Bench& b, HookedCard&) { b.faulty.maxReply = 1; }, true,
         normal, "", 0},
        {"parameters key cannot be opened (the defaults log a 500 ms offset)",
         [](Bench& b, HookedCard&) {
             b.m.registry.FailOperation(sim::SimRegistry::kOpenKey, kParametersKey,
                                        ERROR_ACCESS_DENIED);
             b.m.device.Model().SetOffset(-500 * 10000);
         },
         true,
         {105, 109, 108, 106},
         "",
         6},
        {"event source cannot be opened",
         [](Bench& b, HookedCard&) { b.m.eventLog.FailRegistrations(1000); },
         true,
         {},
         "",
         6},
        {"clock adjustment cannot be read",
         [](Bench& b, HookedCard&) { b.m.clock.FailAdjustmentQueries(1000); }, true, normal, "", 6},
        {"system time privilege not held",
         [](Bench& b, HookedCard&) { b.m.process.SetPrivilegeHeld(SE_SYSTEMTIME_NAME, false); },
         true, normal, "", 6},
    };
    for (const LoopFault& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b;
        const Outcome o = b.Run(row.inject);
        std::printf("fault row (QxrSync loop) %s: %s; events %s; %d card time reads succeeded\n",
                    row.name, o.ranToTheStop ? "kept working until the stop" : "service ended",
                    Ids(o.events).c_str(), o.timesRead);
        EXPECT_EQ(o.ranToTheStop, row.keepsWorking);
        EXPECT_EQ(o.events, row.events);
        if (row.lastEventText[0] != '\0') {
            EXPECT_EQ(o.lastEventText, row.lastEventText);
        }
        EXPECT_GE(o.timesRead, row.minTimesRead);
    }
}

// The tick counter wraps inside a sleep: the corrections keep their period across it.
TEST(ServiceFaultInjection, TickCounterWrapInsideTheWaits) {
    sim::SimClockConfig config = testing::DefaultClockConfig();
    config.uptimeMs = 0x100000000ull - 25100;  // wraps 25.1 s into the run
    testing::ServiceTestMachine m(config);
    m.registry.SetDword(kParametersKey, "LogThreshold", 0);
    m.PrepareRun(kRunMs);
    {
        SyncService service(m.ports, m.card, m.console);
        ASSERT_TRUE(service.RunDispatcher());
    }
    std::vector<int64_t> at;
    for (int64_t t : m.card.timeCallsAt) at.push_back(m.MsOf(t));
    std::printf("fault row (QxrSync loop) tick counter wraps at 25.1 s: corrections at");
    for (int64_t t : at) std::printf(" %lld", static_cast<long long>(t));
    std::printf(" ms\n");
    EXPECT_EQ(at, (std::vector<int64_t>{0, 10000, 20000, 30000, 40000, 50000}));
}

// The service manager refuses one call at a time, for each way the program starts.
TEST(ServiceFaultInjection, ServiceManagerRefusesEachCallInTurn) {
    const char* const kCallNames[] = {"OpenSCManager",
                                      "OpenService",
                                      "CreateService",
                                      "StartService",
                                      "ControlService",
                                      "DeleteService",
                                      "QueryServiceStatus",
                                      "QueryServiceConfig",
                                      "ChangeServiceConfig",
                                      "StartServiceCtrlDispatcher",
                                      "RegisterServiceCtrlHandler"};
    for (int call = 0; call < sim::SimServiceManager::kCallCount; ++call) {
        for (const char* option : {"-i", "-r", ""}) {
            SCOPED_TRACE(std::string(kCallNames[call]) + " refused, option \"" + option + "\"");
            testing::ServiceTestMachine m;
            m.registry.SetDword(kParametersKey, "RampDuration", 20);  // an operator's setting
            sim::SimService entry;
            entry.name = kSyncServiceName;
            entry.state = *option == '\0' ? SERVICE_START_PENDING : SERVICE_STOPPED;
            if (std::string(option) != "-i") m.services.AddService(entry);
            m.StopAt(5000);
            m.services.FailCall(static_cast<sim::SimServiceManager::Call>(call),
                                ERROR_ACCESS_DENIED);
            std::string argument = option;
            char name[] = "QxrSync.exe";
            char* argv[] = {name, &argument[0], nullptr};
            int exitCode = -1;
            {
                SyncService service(m.ports, m.card, m.console);
                exitCode = RunServiceProgram(service, m.console, *option == '\0' ? 1 : 2, argv);
            }
            std::string said = m.console.Text();
            const size_t cut = said.find('\n', 1);
            std::printf(
                "fault row (QxrSync) %s refused, \"%s\": exit %d, printed \"%s\", events %s\n",
                kCallNames[call], option, exitCode,
                said.substr(0, cut == std::string::npos ? said.size() : cut).c_str(),
                [&] {
                    std::vector<DWORD> ids;
                    for (const auto& e : m.Logged()) ids.push_back(e.id);
                    return Ids(ids);
                }()
                    .c_str());
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(m.registry.OpenHandleCount(), 0);
            EXPECT_EQ(m.services.OpenHandleCount(), 0);
            // The operator's setting survives, unless the service went with its whole key.
            DWORD ramp = 0;
            if (m.services.HasService(kSyncServiceName)) {
                EXPECT_TRUE(m.registry.GetDword(kParametersKey, "RampDuration", &ramp));
                EXPECT_EQ(ramp, 20u);
            }
            const bool scmOrService = call == sim::SimServiceManager::kOpenSCManager ||
                                      call == sim::SimServiceManager::kOpenService;
            if (std::string(option) == "-i") {
                const bool fails = call == sim::SimServiceManager::kOpenSCManager ||
                                   call == sim::SimServiceManager::kCreateService;
                EXPECT_EQ(said.find("QxrSync failed to install.  Error 5.\n") == 0, fails);
                EXPECT_EQ(m.services.HasService(kSyncServiceName), !fails);
            } else if (std::string(option) == "-r") {
                if (scmOrService) {
                    EXPECT_EQ(said, "QxrSync is not installed.\n");
                } else if (call == sim::SimServiceManager::kDeleteService) {
                    EXPECT_EQ(said, "Could not remove QxrSync.  Error 5.\n");
                } else {
                    EXPECT_EQ(said.find("QxrSync removed.\n"), 0u);
                }
            } else {
                const bool noService = scmOrService ||
                                       call == sim::SimServiceManager::kQueryServiceStatus ||
                                       call == sim::SimServiceManager::kStartDispatcher;
                EXPECT_EQ(said, noService ? kQxrSyncUsage : "");
                const auto states = m.services.ReportedStatuses();
                if (call == sim::SimServiceManager::kRegisterHandler) {
                    EXPECT_TRUE(states.empty());
                    ASSERT_EQ(m.Logged().size(), 1u);
                    EXPECT_EQ(m.Logged()[0].id, 103u);
                } else if (!noService) {
                    ASSERT_FALSE(states.empty());
                    EXPECT_EQ(states.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
                }
            }
        }
    }
}

// Installation and removal with each registry operation failing in turn under each key
// they touch. The operator's parameter survives; an installation disables W32Time, telling the
// operator when its start type could not be noted, and removal puts it back unless there is no
// note or it cannot be read then (it stays disabled, as with a note deleted by hand); no key
// stays open.
TEST(ServiceFaultInjection, RegistryRefusesEachOperationUnderEachKey) {
    const char* const kOperations[] = {"create", "open", "query", "set"};
    const char* const kKeys[] = {kParametersKey, testing::kEventSourceKey, testing::kServiceKey,
                                 testing::kNotedKey};
    for (int op = 0; op < sim::SimRegistry::kOperationCount; ++op) {
        for (const char* key : kKeys) {
            SCOPED_TRACE(std::string(kOperations[op]) + " refused under " + key);
            testing::ServiceTestMachine m;
            m.registry.SetDword(kParametersKey, "RampDuration", 20);
            sim::SimService w32time;
            w32time.name = "W32Time";
            w32time.startType = SERVICE_AUTO_START;
            w32time.state = SERVICE_RUNNING;
            m.services.AddService(w32time);
            m.registry.FailOperation(static_cast<sim::SimRegistry::Operation>(op), key,
                                     ERROR_ACCESS_DENIED);
            const auto run = [&m](const char* option) {
                char name[] = "QxrSync.exe";
                std::string argument = option;
                char* argv[] = {name, &argument[0], nullptr};
                m.console.Clear();
                SyncService service(m.ports, m.card, m.console);
                return RunServiceProgram(service, m.console, 2, argv);
            };

            EXPECT_EQ(run("-i"), 0);
            const std::string installText = m.console.Text();
            const bool installed = installText.find("QxrSync installed.") != std::string::npos;
            sim::SimService after;
            m.services.GetService("W32Time", &after);
            DWORD noted = 0;
            const bool disabled = after.startType == SERVICE_DISABLED;
            const bool notedAtInstall =
                m.registry.GetDword(testing::kNotedKey, "StartType", &noted);
            if (notedAtInstall) {
                EXPECT_EQ(noted, static_cast<DWORD>(SERVICE_AUTO_START));
            }
            // Without a note W32Time is disabled all the same, and the operator is told.
            EXPECT_EQ(installText.find(kStartTypeNotNotedText) != std::string::npos,
                      disabled && !notedAtInstall);
            DWORD ramp = 0;
            EXPECT_TRUE(m.registry.GetDword(kParametersKey, "RampDuration", &ramp));
            EXPECT_EQ(ramp, 20u);

            EXPECT_EQ(run("-r"), 0);
            const bool removed = m.console.Text().find("QxrSync removed.") != std::string::npos;
            m.services.GetService("W32Time", &after);
            const bool noteUnreadable =
                (op == sim::SimRegistry::kOpenKey || op == sim::SimRegistry::kQueryValue) &&
                (key == testing::kNotedKey || key == testing::kServiceKey);
            std::printf(
                "fault row (QxrSync) registry %s refused under %s: -i %s, W32Time %s "
                "after it; -r %s, W32Time %s after it\n",
                kOperations[op], key, installed ? "installed" : "failed",
                !disabled        ? "left enabled"
                : notedAtInstall ? "disabled (start type noted)"
                                 : "disabled (start type not noted)",
                removed ? "removed" : "failed",
                after.startType == SERVICE_AUTO_START ? "automatic" : "disabled");
            // Only an event source key that cannot be created fails the installation.
            EXPECT_EQ(installed,
                      !(op == sim::SimRegistry::kCreateKey && key == testing::kEventSourceKey));
            EXPECT_EQ(disabled, installed);
            EXPECT_TRUE(removed);
            EXPECT_EQ(after.startType == SERVICE_AUTO_START,
                      !disabled || (notedAtInstall && !noteUnreadable));
            EXPECT_EQ(m.registry.OpenHandleCount(), 0);
            EXPECT_EQ(m.services.OpenHandleCount(), 0);
        }
    }
}

}  // namespace
}  // namespace qxr::sync
