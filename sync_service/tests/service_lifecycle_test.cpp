// The service side of the framework on the simulated machine: the states reported to the
// service control manager, the control handler, events and the debug trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

std::vector<DWORD> States(const std::vector<SERVICE_STATUS>& reports) {
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& s : reports) states.push_back(s.dwCurrentState);
    return states;
}

class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.AddServiceEntry();
        m.registry.SetDword(testing::kParametersKey, "LogThreshold", 0);
    }
    int RunProgram(CNTService& service) {
        char name[] = "QxrSync.exe";
        char* argv[] = {name, nullptr};
        return RunServiceProgram(service, m.console, 1, argv);
    }

    testing::ServiceTestMachine m;
};

TEST_F(LifecycleTest, StartRunStop) {
    m.StopAt(3000);
    SyncService service(m.ports, m.card, m.console);
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_EQ(m.console.Text(), "");  // started by the SCM: no usage text

    const std::vector<SERVICE_STATUS> reports = m.services.ReportedStatuses();
    const std::vector<DWORD> expected = {SERVICE_START_PENDING, SERVICE_RUNNING,
                                         SERVICE_STOP_PENDING, SERVICE_STOP_PENDING,
                                         SERVICE_STOPPED};
    EXPECT_EQ(States(reports), expected);
    for (const SERVICE_STATUS& s : reports) {
        EXPECT_EQ(s.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(s.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
        EXPECT_EQ(s.dwWin32ExitCode, 0u);
        EXPECT_EQ(s.dwCheckPoint, 0u);
        EXPECT_EQ(s.dwWaitHint, 0u);
    }
    // The stop arrives during the sleep before the pass at 3000 ms; that sleep ends the loop.
    EXPECT_EQ(m.card.statusCalls.load(), 6);
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].text, "The service was started.\r\n");
    EXPECT_EQ(events[1].text, "Using GPS as the time reference.\r\n");
    EXPECT_EQ(events[2].text, "The service was stopped.\r\n");
    EXPECT_EQ(events[2].ms, 3000);
    EXPECT_TRUE(m.debug.Contains("Calling StartServiceCtrlDispatcher()"));
    EXPECT_TRUE(m.debug.Contains("Leaving CNTService::ServiceMain()"));
    // The priorities taken for the loop are given back.
    EXPECT_EQ(m.process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(m.process.ThreadPriority(), THREAD_PRIORITY_NORMAL);
}

// The framework's own trace lines, in order, for a start and a stop (the prefix and the
// line feed left out).
TEST_F(LifecycleTest, TraceLinesOfAStartAndAStop) {
    m.StopAt(1000);
    SyncService service(m.ports, m.card, m.console);
    EXPECT_EQ(RunProgram(service), 0);
    std::vector<std::string> lines;
    for (const std::string& line : m.debug.Lines()) {
        const std::size_t start = line.find("): ");
        ASSERT_NE(start, std::string::npos) << line;
        ASSERT_EQ(line.back(), '\n') << line;
        lines.push_back(line.substr(start + 3, line.size() - start - 4));
    }
    // 20817 is the status handle (0x5151) the simulated SCM hands out.
    const std::vector<std::string> expected = {
        "Calling StartServiceCtrlDispatcher()",
        "Entering CNTService::ServiceMain()",
        "Entering CNTService::Initialize()",
        "CNTService::SetStatus(20817, 2)",
        "CNTService::SetStatus(20817, 4)",
        "Leaving CNTService::Initialize()",
        "CNTService::Handler(1)",
        "CNTService::SetStatus(20817, 3)",
        "CNTService::OnStop()",
        "Updating status (20817, 3)",
        "CNTService::SetStatus(20817, 1)",
        "Leaving CNTService::ServiceMain()",
        "Returned from StartServiceCtrlDispatcher()",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(LifecycleTest, LibraryFailureStopsWithoutStopPending) {
    m.At(2000, [&] { m.card.statusError = ERROR_GEN_FAILURE; });
    m.StopAt(60000);  // only a safety net
    SyncService service(m.ports, m.card, m.console);
    EXPECT_EQ(RunProgram(service), 0);
    const std::vector<DWORD> expected = {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED};
    EXPECT_EQ(States(m.services.ReportedStatuses()), expected);
    EXPECT_EQ(m.card.statusCalls.load(), 5);  // 0, 500, 1000, 1500 and the failing 2000
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].id, 112u);
    EXPECT_EQ(events[2].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[2].text, "Dll error: 31\r\n");
    EXPECT_EQ(events[2].ms, 2000);
    EXPECT_EQ(m.NowMs(), 2000);  // left at once, without a last sleep
}

// The code is written with "%d": codes of 2^31 and above read as negative numbers.
TEST_F(LifecycleTest, LibraryErrorCodesOfTwoToTheThirtyFirstAndAbove) {
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {{0x80000000u, "Dll error: -2147483648\r\n"},
                 {0xFFFFFFFFu, "Dll error: -1\r\n"},
                 {0xC0000005u, "Dll error: -1073741819\r\n"}};
    for (const auto& c : cases) {
        testing::ServiceTestMachine machine;
        machine.card.statusError = c.code;
        machine.AddServiceEntry();
        machine.StopAt(60000);  // only a safety net
        SyncService service(machine.ports, machine.card, machine.console);
        ASSERT_TRUE(service.RunDispatcher());
        const auto events = machine.Logged();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1].id, 112u);
        EXPECT_EQ(events[1].text, c.text);
    }
}

class FailingInit : public CNTService {
  public:
    using CNTService::CNTService;
    bool OnInit() override { return false; }
    void Run() override { ran = true; }
    bool ran = false;
};

TEST_F(LifecycleTest, FailedInitializationStops) {
    FailingInit service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_FALSE(service.ran);
    EXPECT_FALSE(service.IsRunning());
    const std::vector<DWORD> expected = {SERVICE_START_PENDING, SERVICE_STOPPED, SERVICE_STOPPED};
    EXPECT_EQ(States(m.services.ReportedStatuses()), expected);
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "The initialization process failed.\r\n");
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
}

TEST_F(LifecycleTest, HandlerRegistrationFailureReportsNoState) {
    m.services.FailCall(sim::SimServiceManager::kRegisterHandler, ERROR_ACCESS_DENIED);
    FailingInit service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_TRUE(m.services.ReportedStatuses().empty());
    const auto events = m.Logged();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "The control handler could not be installed.\r\n");
}

TEST_F(LifecycleTest, NotStartedByTheScmPrintsUsage) {
    m.services.SetState("QxrSync", SERVICE_RUNNING);
    SyncService service(m.ports, m.card, m.console);
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_EQ(m.console.Text(), kQxrSyncUsage);
    EXPECT_FALSE(m.debug.Contains("Calling StartServiceCtrlDispatcher()"));

    m.console.Clear();
    m.services.SetState("QxrSync", SERVICE_START_PENDING);
    m.services.FailCall(sim::SimServiceManager::kStartDispatcher,
                        ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_EQ(m.console.Text(), kQxrSyncUsage);
    EXPECT_TRUE(m.services.ReportedStatuses().empty());
}

class UserControls : public CNTService {
  public:
    using CNTService::CNTService;
    bool OnUserControl(DWORD control) override {
        CNTService::OnUserControl(control);
        return control == 200;
    }
};

TEST_F(LifecycleTest, HandlerCodes) {
    UserControls service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    // Connect the handler without running: the base Run sleeps until a stop.
    m.StopAt(20000);
    std::vector<std::pair<DWORD, bool>> codes = {
        {0, true},   {6, true},  {127, true}, {128, true}, {200, false},
        {255, true}, {2, false}, {3, false},  {4, false},  {5, false}};
    m.At(5000, [&] {
        for (const auto& code : codes) {
            const std::size_t before = m.eventLog.Events().size();
            const std::size_t reportsBefore = m.services.ReportedStatuses().size();
            CNTService::Handler(code.first);
            const auto events = m.eventLog.Events();
            EXPECT_EQ(events.size() - before, code.second ? 1u : 0u) << code.first;
            if (code.second) {
                EXPECT_EQ(events.back().id, 110u) << code.first;
            }
            const auto reports = m.services.ReportedStatuses();
            ASSERT_EQ(reports.size(), reportsBefore + 1) << code.first;
            EXPECT_EQ(reports.back().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        }
    });
    EXPECT_EQ(RunProgram(service), 0);
    EXPECT_TRUE(m.debug.Contains("CNTService::OnUserControl(000000C8H)"));
    EXPECT_TRUE(m.debug.Contains("CNTService::OnInterrogate()"));
    EXPECT_TRUE(m.debug.Contains("CNTService::OnPause()"));
    EXPECT_TRUE(m.debug.Contains("CNTService::OnContinue()"));
    EXPECT_TRUE(m.debug.Contains("CNTService::OnShutdown()"));
    EXPECT_TRUE(m.debug.Contains("Sleeping..."));
    EXPECT_EQ(m.NowMs(), 20000);
    EXPECT_EQ(m.Logged().back().text, "The service was stopped.\r\n");
}

TEST_F(LifecycleTest, EventSourceOpenedOnceAndRetriedAfterFailure) {
    CNTService service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    m.eventLog.FailRegistrations(1);
    service.ReportServiceEvent(EVENTLOG_ERROR_TYPE, 110);  // lost
    EXPECT_TRUE(m.eventLog.Events().empty());
    service.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 108, "GPS");
    service.ReportServiceEvent(EVENTLOG_WARNING_TYPE, 107, nullptr, nullptr, nullptr);
    service.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 100, "a", "b", "c");
    EXPECT_EQ(m.eventLog.RegisterCount(), 2);
    const auto events = m.eventLog.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].source, "QxrSync");
    EXPECT_EQ(events[0].strings, std::vector<std::string>{"GPS"});
    EXPECT_TRUE(events[1].strings.empty());
    EXPECT_EQ(events[2].strings, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(events[2].category, 0);
    EXPECT_EQ(m.eventLog.OpenSourceCount(), 1);
}

TEST_F(LifecycleTest, DestructorClosesTheEventSource) {
    {
        CNTService service(m.ports, m.console, "QxrSync", nullptr, nullptr);
        service.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 105);
        EXPECT_EQ(m.eventLog.OpenSourceCount(), 1);
        EXPECT_EQ(CNTService::Instance(), &service);
    }
    EXPECT_EQ(m.eventLog.OpenSourceCount(), 0);
    EXPECT_EQ(CNTService::Instance(), nullptr);
    EXPECT_TRUE(m.debug.Contains("CNTService::~CNTService()"));
}

TEST_F(LifecycleTest, TraceLinesAreBounded) {
    CNTService service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    const DWORD id = m.threads.GetCurrentThreadId();
    service.TraceMsg("value %d", 42);
    const std::string prefix = "[QxrSync](" + std::to_string(id) + "): ";
    ASSERT_FALSE(m.debug.Lines().empty());
    EXPECT_EQ(m.debug.Lines().back(), prefix + "value 42\n");

    const std::string huge(5000, 'x');
    service.TraceMsg("%s", huge.c_str());
    const std::string line = m.debug.Lines().back();
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find_first_not_of('x', prefix.size()), line.size() - 1);
}

}  // namespace
}  // namespace qxr::sync
