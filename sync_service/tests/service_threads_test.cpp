// The service with real threads: the dispatcher's thread delivering controls, the service
// thread running the loop in virtual time, the pop-up threads and the tracking log's writer. Run
// under ThreadSanitizer too (label tsan).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_datagram_sockets.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::sync {
namespace {

constexpr int32_t kGps = static_cast<int32_t>(TimeReference::Gps);
constexpr int32_t kOnBoard = static_cast<int32_t>(TimeReference::OnBoardClock);
constexpr int kWaitMs = 20000;

class ServiceThreadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.AddServiceEntry();
        m.services.SetDispatchMode(sim::SimServiceManager::DispatchMode::kThread);
        m.threads.SetMode(sim::SimThreads::Mode::kReal);
        m.messageBoxes.SetHoldOpen(true);
        // Only the service thread may read the virtual clock.
        m.eventLog.SetTimeSource(nullptr);
        m.registry.SetDword(testing::kParametersKey, "LogThreshold", 0);
    }
    void TearDown() override {
        // After a failed assertion: never leave threads behind.
        if (dispatcher_.joinable()) {
            m.messageBoxes.SetHoldOpen(false);
            m.services.SendControl(SERVICE_CONTROL_STOP);
            dispatcher_.join();
        }
        m.threads.JoinAll();
    }
    // The program's main thread: the dispatcher, which delivers the controls.
    void StartDispatcher(SyncService& service) {
        dispatcher_ = std::thread([&service, this] { dispatched_ = service.RunDispatcher(); });
    }
    void StopAndJoin() {
        if (!m.services.WaitForReportedState(SERVICE_STOPPED, 10)) {
            m.services.SendControl(SERVICE_CONTROL_STOP);
        }
        EXPECT_TRUE(m.services.WaitForReportedState(SERVICE_STOPPED, kWaitMs));
        m.messageBoxes.SetHoldOpen(false);
        dispatcher_.join();
        m.threads.JoinAll();
        EXPECT_TRUE(dispatched_);
    }
    std::vector<DWORD> States() const {
        std::vector<DWORD> states;
        for (const SERVICE_STATUS& s : m.services.ReportedStatuses()) {
            states.push_back(s.dwCurrentState);
        }
        return states;
    }

    void Flip(int64_t ms) {
        m.At(ms, [this, ms] {
            m.card.reference = m.card.reference == kGps ? kOnBoard : kGps;
            Flip(ms + 11000);
        });
    }

    testing::ServiceTestMachine m;
    std::thread dispatcher_;
    bool dispatched_ = false;
};

TEST_F(ServiceThreadsTest, StopFromTheDispatcherWhileAPopupIsShowing) {
    m.card.reference = kOnBoard;
    SyncService service(m.ports, m.card, m.console);
    StartDispatcher(service);
    ASSERT_TRUE(m.messageBoxes.WaitForShown(1, kWaitMs));
    EXPECT_TRUE(service.IsWarningShowing());
    m.services.SendControl(SERVICE_CONTROL_STOP);
    EXPECT_TRUE(m.services.WaitForReportedState(SERVICE_STOPPED, kWaitMs));
    // The box is still open: the service stopped without waiting for it.
    EXPECT_EQ(m.messageBoxes.OpenCount(), 1);
    m.messageBoxes.ReleaseAll();
    StopAndJoin();
    EXPECT_FALSE(service.IsWarningShowing());
    const std::vector<DWORD> states = States();
    ASSERT_GE(states.size(), 4u);
    EXPECT_EQ(states[0], static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(states[1], static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(states[2], static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(states.back(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(m.messageBoxes.Boxes().size(), 1u);
    EXPECT_EQ(m.eventLog.EventIds().back(), 106u);
}

TEST_F(ServiceThreadsTest, StopRightAfterRunningEndsTheLoop) {
    m.services.SetReportHook([&](const SERVICE_STATUS& status) {
        if (status.dwCurrentState == SERVICE_RUNNING) m.services.SendControl(SERVICE_CONTROL_STOP);
    });
    SyncService service(m.ports, m.card, m.console);
    StartDispatcher(service);
    // No second stop is sent: the first one alone must end the run.
    EXPECT_TRUE(m.services.WaitForReportedState(SERVICE_STOPPED, kWaitMs));
    StopAndJoin();
    const std::vector<DWORD> states = States();
    EXPECT_EQ(states.back(), static_cast<DWORD>(SERVICE_STOPPED));
    ASSERT_GE(states.size(), 4u);
    EXPECT_EQ(states[1], static_cast<DWORD>(SERVICE_RUNNING));
    // The stop's own report; the handler's closing one shows STOP_PENDING or, when the loop
    // was quicker, STOPPED.
    EXPECT_EQ(states[2], static_cast<DWORD>(SERVICE_STOP_PENDING));
}

TEST_F(ServiceThreadsTest, PopupHandOverUnderChurn) {
    m.registry.SetDword(testing::kParametersKey, "LogSecsNoGPS", 0);
    m.card.reference = kOnBoard;
    // The reference flips every 11 s of virtual time for as long as the service runs.
    Flip(11000);
    SyncService service(m.ports, m.card, m.console);
    StartDispatcher(service);
    for (int shown = 1; shown <= 5; ++shown) {
        ASSERT_TRUE(m.messageBoxes.WaitForShown(shown, kWaitMs)) << shown;
        m.messageBoxes.ReleaseAll();
    }
    m.services.SendControl(SERVICE_CONTROL_STOP);
    StopAndJoin();
    EXPECT_GE(m.messageBoxes.Boxes().size(), 5u);
    EXPECT_EQ(m.messageBoxes.MaxOpenCount(), 1);
    for (const sim::SimMessageBox& box : m.messageBoxes.Boxes()) {
        EXPECT_EQ(box.text,
                  "GPS time reference is off line.  Using internal on-board clock as time "
                  "reference.");
    }
}

constexpr char kLogPath[] = "C:\\Logs\\qxrsync.csv";

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(ServiceThreadsTest, TheTrackingLogIsCompleteWhenTheServiceSaysStopped) {
    m.registry.SetString(testing::kParametersKey, "TrackingLog", REG_SZ, kLogPath);
    m.registry.SetDword(testing::kParametersKey, "RampDuration", 1);
    // Set on the service thread before the dispatcher returns, read after the join.
    std::string atStopped;
    m.services.SetReportHook([&](const SERVICE_STATUS& status) {
        if (status.dwCurrentState == SERVICE_STOPPED) atStopped = m.files.Contents(kLogPath);
    });
    SyncService service(m.ports, m.card, m.console);
    StartDispatcher(service);
    ASSERT_TRUE(m.files.WaitForWrites(20, kWaitMs));
    m.services.SendControl(SERVICE_CONTROL_STOP);
    StopAndJoin();
    // The loop outruns the writer in virtual time; nothing was written after the report.
    EXPECT_GT(LineCount(atStopped), 20);
    EXPECT_EQ(atStopped, m.files.Contents(kLogPath));
}

TEST_F(ServiceThreadsTest, AWriterHeldInItsWriteDoesNotHoldTheStop) {
    m.registry.SetString(testing::kParametersKey, "TrackingLog", REG_SZ, kLogPath);
    m.files.HoldWrites(kWaitMs);
    SyncService service(m.ports, m.card, m.console);
    StartDispatcher(service);
    ASSERT_TRUE(m.files.WaitForWrites(1, kWaitMs));
    m.services.SendControl(SERVICE_CONTROL_STOP);
    EXPECT_TRUE(m.services.WaitForReportedState(SERVICE_STOPPED, kWaitMs));
    // The writer, left behind in its write, finishes that line and frees what it holds.
    m.files.ReleaseWrites();
    StopAndJoin();
    EXPECT_EQ(m.files.HoldsTimedOut(), 0);
    EXPECT_EQ(LineCount(m.files.Contents(kLogPath)), 2);
    EXPECT_EQ(m.files.OpenHandleCount(), 0);
}

TEST_F(ServiceThreadsTest, EventsFromTwoThreadsOpenOneSource) {
    CNTService service(m.ports, m.console, "QxrSync", nullptr, nullptr);
    auto report = [&service] {
        for (int i = 0; i < 500; ++i) service.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 105);
    };
    std::thread a(report);
    std::thread b(report);
    a.join();
    b.join();
    EXPECT_EQ(m.eventLog.RegisterCount(), 1);
    EXPECT_EQ(m.eventLog.Events().size(), 1000u);
}

}  // namespace
}  // namespace qxr::sync

namespace qxr::sync {
namespace {

// The NTP server's own thread against the loop handing it readings and a flood of requests,
// on real clocks (the simulated one belongs to one thread): every request is answered, the
// loop's readings arrive, and stopping ends the thread and closes the port.
class SteadyClock : public platform::PerformanceCounter, public platform::TickCounter {
  public:
    BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
        count->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count() /
                          100;
        return TRUE;
    }
    BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override {
        frequency->QuadPart = 10000000;
        return TRUE;
    }
    // The tick counter and Sleep may run `speedUp` times faster than real time.
    explicit SteadyClock(int speedUp = 1) : speedUp_(speedUp) {}
    DWORD GetTickCount() override {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return static_cast<DWORD>(now.QuadPart / 10000 * speedUp_);
    }
    void Sleep(DWORD ms) override {
        std::this_thread::sleep_for(std::chrono::microseconds(int64_t{ms} * 1000 / speedUp_));
    }

  private:
    int speedUp_;
};

platform::Platform WithClock(const platform::Platform& p, SteadyClock& steady) {
    return platform::Platform{p.device,     p.clock,   steady,         steady,     p.scheduling,
                              p.privileges, p.version, p.registry,     p.services, p.eventLog,
                              p.debug,      p.threads, p.messageBoxes, p.module,   p.files};
}

TEST(TimeServingThreadsTest, LoopFloodAndStop) {
    sim::SimMachine pc;
    pc.threads.SetMode(sim::SimThreads::Mode::kReal);
    SteadyClock steady;
    platform::Platform ports = WithClock(pc.ports, steady);
    sim::SimDatagramSockets network;
    ntp::NtpSettings settings;
    settings.rate.intervalS = 0;
    constexpr int kRequests = 3000;
    {
        ntp::TimeServing serving(ports, network, settings, ntp::TimeServing::Mode::kOwnThread);
        ASSERT_EQ(serving.Start(), 0);
        std::thread loop([&] {
            for (int i = 0; i < 300; ++i) {
                serving.NoteStatus(1);
                CardTime time{2026, 12, 7, 0, 0, i % 60, 0, 0, 0, 0};
                serving.NoteTime(&time, serving.Counter());
            }
        });
        std::thread client([&] {
            platform::SocketAddress from;
            from.address[0] = 10;
            for (int i = 0; i < kRequests; ++i) {
                std::vector<uint8_t> request(48, 0);
                request[0] = (4 << 3) | 3;
                network.Deliver(from, 123, request);
            }
        });
        loop.join();
        client.join();
        int answered = 0;
        for (int waited = 0; answered < kRequests && waited < 2000; waited += 10) {
            answered += static_cast<int>(network.TakeSent().size());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(answered, kRequests);
        serving.Stop();
        EXPECT_EQ(network.OpenCount(), 0);
    }
    pc.threads.JoinAll();
}

std::vector<uint8_t> ClientRequest() {
    std::vector<uint8_t> request(48, 0);
    request[0] = (4 << 3) | 3;
    return request;
}

// A network gone down: the receive fails at once, every time. The thread must not spin on it
// (at priority 24 in a REALTIME process that freezes a one-CPU machine): it pauses after each
// failure, reports the failure once, opens its port again, and serves once the network is
// back.
TEST(TimeServingThreadsTest, AFailingReceiveNeitherSpinsNorEndsTheServer) {
    constexpr int kNetDown = 10050;  // WSAENETDOWN
    sim::SimMachine pc;
    pc.threads.SetMode(sim::SimThreads::Mode::kReal);
    SteadyClock steady;
    platform::Platform ports = WithClock(pc.ports, steady);
    sim::SimDatagramSockets network;
    network.SetIpv6Missing(true);
    network.FailReceive(kNetDown);
    std::mutex lock;
    std::vector<int> reported;
    {
        ntp::TimeServing serving(ports, network, ntp::NtpSettings{},
                                 ntp::TimeServing::Mode::kOwnThread);
        serving.OnReceiveFailing([&](int error) {
            std::lock_guard<std::mutex> guard(lock);
            reported.push_back(error);
        });
        ASSERT_EQ(serving.Start(), 0);
        // Two reopenings' worth of failures: about ten pauses of 100 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(1050));
        const int calls = network.ReceiveCalls();
        EXPECT_GE(calls, 6);
        EXPECT_LE(calls, 12);
        EXPECT_GE(network.SocketsMade(), 2);  // opened again
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_EQ(reported, std::vector<int>{kNetDown});  // once
        }
        network.FailReceive(0);
        platform::SocketAddress from;
        from.address[0] = 10;
        size_t answered = 0;
        for (int waited = 0; answered == 0 && waited < 2000; waited += 10) {
            if (waited % 200 == 0) network.Deliver(from, 123, ClientRequest());
            answered = network.TakeSent().size();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GE(answered, 1u);
        serving.Stop();
    }
    pc.threads.JoinAll();
}

// Stop while the thread is caught inside a socket call for longer than any time limit of the
// stop (the tick counter here runs 100 times fast): Stop returns only once the thread has
// left it, since the caller then frees what the thread uses.
TEST(TimeServingThreadsTest, StopWaitsForTheThreadInsideASocketCall) {
    sim::SimMachine pc;
    pc.threads.SetMode(sim::SimThreads::Mode::kReal);
    SteadyClock fast(100);
    platform::Platform ports = WithClock(pc.ports, fast);
    sim::SimDatagramSockets network;
    std::atomic<bool> released{false};
    bool releasedBeforeStopReturned = false;
    {
        ntp::TimeServing serving(ports, network, ntp::NtpSettings{},
                                 ntp::TimeServing::Mode::kOwnThread);
        network.Hold(true);
        ASSERT_EQ(serving.Start(), 0);
        while (network.ReceiveCalls() == 0) std::this_thread::yield();  // caught inside
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // 30 s of ticks
            released.store(true);
            network.Hold(false);
        });
        serving.Stop();
        releasedBeforeStopReturned = released.load();
        EXPECT_EQ(network.OpenCount(), 0);
        release.join();
    }
    EXPECT_TRUE(releasedBeforeStopReturned);
    pc.threads.JoinAll();
}

}  // namespace
}  // namespace qxr::sync
