#include "simulation/sync_simulation.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <memory>

#include "card_access/card_library.h"
#include "card_access/library_card_client.h"
#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_datagram_sockets.h"
#include "simulation/latch_jitter_device.h"
#include "simulation/nt_sleep.h"
#include "sync_service/event_messages.h"
#include "sync_service/ntp_server/ntp_packet.h"
#include "sync_service/sync_service.h"

namespace qxr::simulation {

namespace {

constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Parameters";
// Where the simulated service keeps its tracking log; copied out to the real file at the end.
constexpr char kSimTrackingLog[] = "C:\\qxrsim\\tracking.csv";
constexpr double kTicksPerSecond = 1e7;
// The pass that reads the card runs half a second before the listener that notices it.
constexpr double kPollPeriodS = sync::kPollPeriodMs / 1000.0;

// Timeline lines are gathered with their virtual time and printed in order at the end, since
// a pop-up is only known once its thread has run.
struct Line {
    double timeS;
    int order;  // keeps the order of lines with the same time
    std::string text;
};

using sim::NullConsole;

// The loop's view of the card, counted: every GetTime call is one correction.
class ObservedCard : public card_access::CardClient {
  public:
    explicit ObservedCard(card_access::CardClient& inner) : inner_(inner) {}
    uint32_t GetHwStatus(CardStatus* status) override { return inner_.GetHwStatus(status); }
    uint32_t GetTime(CardTime* time) override {
        ++timeReads;
        return inner_.GetTime(time);
    }
    uint32_t SetTime(const CardTime* time) override { return inner_.SetTime(time); }
    int timeReads = 0;

  private:
    card_access::CardClient& inner_;
};

const char* TypeName(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE:
            return "error";
        case EVENTLOG_WARNING_TYPE:
            return "warning";
        default:
            return "information";
    }
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

sim::SimMachineConfig MachineFor(const Scenario& s) {
    sim::SimMachineConfig config;
    config.clock.timeIncrement = s.tickLength;
    config.clock.driftPpb = static_cast<int64_t>(std::llround(s.driftPpm * 1000));
    config.clock.initialOffset =
        static_cast<int64_t>(std::llround(s.initialOffsetS * kTicksPerSecond));
    config.clock.uptimeMs = static_cast<uint64_t>(std::llround(s.uptimeS * 1000));
    config.clock.wanderPpmPerHour = s.wanderPpmPerHour;
    config.clock.wanderSeed = s.seed;
    config.threadMode = sim::SimThreads::Mode::kDeferred;
    return config;
}

void WriteParameters(const ServiceParameters& p, sim::SimRegistry& registry) {
    const std::pair<const char*, const ServiceParameters::Value*> values[] = {
        {"LogThreshold", &p.logThreshold}, {"MsgThreshold", &p.msgThreshold},
        {"LogSecsNoGPS", &p.logSecsNoGps}, {"MsgSecsNoGPS", &p.msgSecsNoGps},
        {"MaxAdjustPct", &p.maxAdjustPct}, {"RampDuration", &p.rampDuration},
        {"TimeSetBias", &p.timeSetBias},
    };
    for (const auto& [name, value] : values) {
        if (value->set) registry.SetDword(kParametersKey, name, static_cast<DWORD>(value->value));
    }
}

}  // namespace

std::string FormatVirtualTime(double seconds) {
    const auto totalMs = static_cast<int64_t>(std::llround(seconds * 1000));
    const int64_t ms = totalMs % 1000, s = totalMs / 1000;
    return Printf("%" PRId64 "+%02d:%02d:%02d.%03d", s / 86400, static_cast<int>(s / 3600 % 24),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), static_cast<int>(ms));
}

namespace {

void PrintHeader(const Scenario& s, const sync::SyncParameters& p, std::ostream& out) {
    out << "qxrsim: scenario " << s.name << ": " << s.description << "\n";
    out << Printf(
        "  drift %+.3f ppm, tick %u (%.4f ms), initial offset %+.3f s, duration %s, "
        "uptime at start %s\n",
        s.driftPpm, s.tickLength, s.tickLength / 1e4, s.initialOffsetS,
        FormatVirtualTime(s.durationS).c_str(), FormatVirtualTime(s.uptimeS).c_str());
    out << Printf(
        "  service parameters: LogThreshold %d, MsgThreshold %d, LogSecsNoGPS %d, "
        "MsgSecsNoGPS %d, MaxAdjustPct %d, RampDuration %d, TimeSetBias %d\n",
        p.logThreshold, p.msgThreshold, p.logSecsNoGps, p.msgSecsNoGps, p.maxAdjustPct,
        p.rampDuration, p.timeSetBias);
}

void PrintSummary(const Scenario& s, const SimulationResult& result, bool boundGiven,
                  std::ostream& out) {
    out << "summary:\n";
    out << Printf(
        "  lock bound: |offset| <= %.3f ms (%s, as a reader of the system clock sees it)\n",
        result.lockBoundMs, boundGiven ? "as given" : "two clock ticks");
    if (result.lock.locked) {
        out << Printf("  time to lock: %s (%.1f s)\n",
                      FormatVirtualTime(result.lock.lockTimeS).c_str(), result.lock.lockTimeS);
        out << Printf("  after lock: max |offset| %.3f ms, RMS %.3f ms\n", result.lock.maxAbsMs,
                      result.lock.rmsMs);
        out << Printf("  learned rate correction %+.3f ppm against a true drift of %+.3f ppm\n",
                      result.lock.learnedPpm, s.driftPpm);
    } else {
        out << "  time to lock: not locked at the end of the run\n";
    }
    out << Printf("  corrections %d: %d steps, %d slews\n", result.corrections, result.steps,
                  result.slews);
    if (result.cardDateReports > 0) {
        out << Printf(
            "  card dates that cannot be true: %d spell%s reported (event 119), the clock not "
            "corrected from them\n",
            result.cardDateReports, result.cardDateReports == 1 ? "" : "s");
    }
    out << Printf(
        "  against true UTC: max |system minus UTC| %.3f ms %s; the card's on-board clock "
        "wandered up to %.3f ms off UTC while GPS was lost (holdover drift %+.3f ppm)\n",
        result.maxAbsUtcMs, result.reachedCard ? "once on the card" : "over the run",
        result.maxHoldoverMs, s.holdoverDriftPpm);
    if (result.ntp.clients > 0) {
        const NtpClientFigures& n = result.ntp;
        out << Printf(
            "  NTP server: %d clients, %lld requests, %lld answered, %lld synchronised; served "
            "minus true UTC: max %.3f ms, RMS %.3f ms (system clock minus true UTC once on the "
            "card: max %.3f ms, RMS %.3f ms)\n",
            n.clients, static_cast<long long>(n.requests), static_cast<long long>(n.answered),
            static_cast<long long>(n.synchronised), n.served.maxAbsMs, n.served.RmsMs(),
            result.systemUtc.maxAbsMs, result.systemUtc.RmsMs());
        out << Printf(
            "  NTP replies: poll every %.0f s; %lld synchronised replies off true UTC by more "
            "than the root dispersion they advertised (largest dispersion %.3f ms)\n",
            n.pollS, static_cast<long long>(n.beyondDispersion), n.maxDispersionMs);
    }
    out << Printf("  virtual %.0f s in %.3f s real: %.0f times real time\n", result.virtualSeconds,
                  result.realSeconds,
                  result.realSeconds > 0 ? result.virtualSeconds / result.realSeconds : 0.0);
}

}  // namespace

SimulationResult RunSimulation(const RunOptions& options, std::ostream& out) {
    const Scenario& s = options.scenario;
    SimulationResult result;
    result.trueDriftPpm = s.driftPpm;
    result.lockBoundMs = options.lockBoundMs > 0 ? options.lockBoundMs : 2 * s.tickLength / 1e4;

    sim::SimMachine pc(MachineFor(s));
    const int64_t start = pc.clock.TrueTime();
    auto secondsOf = [start](int64_t t) {
        return static_cast<double>(t - start) / kTicksPerSecond;
    };

    card::CardModel& card = pc.device.Model();
    card.SetHoldoverDrift(std::llround(s.holdoverDriftPpm * 1000));
    card.ChangeReference(static_cast<uint32_t>(s.startReference), start);
    card.SetGpsFitted(s.gpsFitted);
    WriteParameters(s.parameters, pc.registry);
    const bool tracking = !options.trackingLogPath.empty();
    if (tracking) {
        // One file for the whole run: the service's rotation is for a machine's disk.
        pc.registry.SetString(kParametersKey, "TrackingLog", REG_SZ, kSimTrackingLog);
        pc.registry.SetDword(kParametersKey, "TrackingLogMaxKB", 0x7FFFFFFF);
    }
    pc.eventLog.SetMessageTable(sync::RenderEventMessage);
    pc.threads.SetDeferral([&] { return static_cast<int64_t>(s.popupOpenS * kTicksPerSecond); });
    // Only the pop-up's thread stands for a wait; the log's writer finds its file at once.
    pc.threads.RunInline(&sync::TrackingLogWriter::ThreadRoutine);

    LARGE_INTEGER frequency{};
    pc.clock.QueryPerformanceFrequency(&frequency);
    LatchJitterDevice jittered(pc.device, s.latchJitterUs, frequency.QuadPart, s.seed);
    card_access::CardLibrary library(jittered);
    card_access::LibraryCardClient libraryClient(library);
    ObservedCard observed(libraryClient);
    NullConsole console;
    // With NTP clients the loop sleeps as on NT, so that its card readings fall at every
    // phase of the card's second and the served time shows what the card's millisecond
    // resolution really costs; the service-only scenarios keep their exact 500 ms passes.
    NtSleep ntSleep(pc.clock, s.seed);
    const platform::Platform& p = pc.ports;
    platform::TickCounter& ticks = options.ntpClients > 0 ? ntSleep : p.ticks;
    platform::Platform servicePorts{p.device,       p.clock,      p.counter, ticks,
                                    p.scheduling,   p.privileges, p.version, p.registry,
                                    p.services,     p.eventLog,   p.debug,   p.threads,
                                    p.messageBoxes, p.module,     p.files};
    sync::SyncService service(servicePorts, observed, console);
    sim::SimDatagramSockets network;
    NtpClients clients(options.ntpClients, s.durationS, options.ntpPollS);
    if (options.ntpClients > 0) {
        pc.registry.SetDword(kParametersKey, "NtpServer", 1);
        service.ServeTimeWith(network, ntp::TimeServing::Mode::kCallerServes);
    }

    // The service manager starts the program as a service.
    sim::SimService entry;
    entry.name = sync::kSyncServiceName;
    entry.state = SERVICE_START_PENDING;
    pc.services.AddService(entry);

    std::vector<Line> lines;
    int order = 0;
    LockStatistics stats(result.lockBoundMs);
    PlotThinner thinner(s.durationS), utcThinner(s.durationS);
    TrackingSummary trackingSummary;
    int seenTracked = 0;
    double firstInsideS = -1;  // when the clock first came within the lock bound of the card
    size_t nextChange = 0;
    double nextSampleS = options.sampleEveryS > 0 ? 0 : -1;
    int seenReads = 0;
    int seenSteps = pc.clock.SetSystemTimeCount();
    double offsetBeforeMs = 0;
    bool stopSent = false;
    const DWORD increment = s.tickLength;

    // Offset as a program reading the system clock sees it, against the card at that instant.
    auto readerOffsetMs = [&] {
        const int64_t cardNow = card.CardTimeAt(pc.device.Sample());
        return static_cast<double>(pc.clock.SystemTime() - cardNow) / 1e4;
    };

    pc.clock.AddAdvanceListener([&] {
        const double t = secondsOf(pc.clock.TrueTime());
        while (nextChange < s.changes.size() && s.changes[nextChange].atS <= t) {
            const CardChange& c = s.changes[nextChange++];
            if (c.reference >= 0) {
                card.ChangeReference(static_cast<uint32_t>(c.reference),
                                     start + std::llround(c.atS * kTicksPerSecond));
            }
            if (c.gpsFitted >= 0) card.SetGpsFitted(c.gpsFitted != 0);
            if (c.setsCardOffset) {
                card.SetOffset(std::llround(c.cardOffsetS * kTicksPerSecond));
                lines.push_back({c.atS, order++,
                                 Printf("card    time now %+.3f s off true UTC", c.cardOffsetS)});
                if (c.reference < 0 && c.gpsFitted < 0) continue;
            }
            lines.push_back({c.atS, order++,
                             Printf("card    reference now %s%s",
                                    c.reference == 1   ? "GPS"
                                    : c.reference == 2 ? "on-board clock"
                                                       : "none",
                                    card.GpsFitted() ? "" : " (no GPS fitted)")});
        }
        const double offsetMs = readerOffsetMs();
        const DWORD adjustment =
            pc.clock.AdjustmentDisabled() ? increment : pc.clock.CurrentAdjustment();
        if (observed.timeReads != seenReads) {
            // The pass that just slept made a correction.
            seenReads = observed.timeReads;
            const int steps = pc.clock.SetSystemTimeCount();
            const bool step = steps != seenSteps;
            seenSteps = steps;
            ++result.corrections;
            result.correctionTimesS.push_back(t - kPollPeriodS);
            if (step) {
                ++result.steps;
                result.stepTimesS.push_back(t - kPollPeriodS);
            } else if (adjustment != increment) {
                ++result.slews;
            }
            if (options.printCorrections || step) {
                lines.push_back({t, order++,
                                 Printf("correct #%d %s: offset %+.3f ms before, %+.3f ms now, "
                                        "adjustment %u",
                                        result.corrections, step ? "step" : "slew", offsetBeforeMs,
                                        offsetMs, adjustment)});
            }
        }
        if (service.TrackedCount() != seenTracked) {
            seenTracked = service.TrackedCount();
            trackingSummary.Add(service.LastTracked());
        }
        const double utcMs = static_cast<double>(pc.clock.SystemTime() - pc.clock.TrueTime()) / 1e4;
        if (options.ntpClients > 0 && clients.Poll(t, network)) {
            service.ServeWaitingTimeRequests();
            clients.TakeReplies(network, pc.clock.TrueTime(), t);
        }
        if (firstInsideS >= 0) result.systemUtc.Add(utcMs);
        result.maxHoldoverMs =
            std::max(result.maxHoldoverMs,
                     std::fabs(static_cast<double>(card.HoldoverError(pc.clock.TrueTime())) / 1e4));
        utcThinner.Add(t, utcMs);
        if (firstInsideS < 0 && std::fabs(offsetMs) <= result.lockBoundMs) firstInsideS = t;
        offsetBeforeMs = offsetMs;
        stats.Add(t, offsetMs, pc.clock.SystemTime(), pc.clock.InterruptCount(), increment);
        thinner.Add(t, offsetMs);
        if (nextSampleS >= 0 && t >= nextSampleS) {
            lines.push_back(
                {t, order++,
                 Printf("sample  offset %+9.3f ms, adjustment %u", offsetMs, adjustment)});
            nextSampleS += options.sampleEveryS;
        }
        if (!stopSent && t >= s.durationS) {
            stopSent = true;
            pc.services.SendControl(SERVICE_CONTROL_STOP);
        }
    });

    offsetBeforeMs = readerOffsetMs();
    const auto realStart = std::chrono::steady_clock::now();
    if (!service.RunDispatcher()) {
        out << "qxrsim: the service did not start\n";
        result.exitCode = 1;
        return result;
    }
    pc.threads.RunDue();
    result.realSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    result.virtualSeconds = secondsOf(pc.clock.TrueTime());
    result.lock = stats.Summarize();
    result.tracking = trackingSummary.Figures();
    result.ntp = clients.Figures();
    result.reachedCard = firstInsideS >= 0;
    std::vector<PlotPoint> utcPoints = utcThinner.Take();
    // Against true UTC from the first time the clock reached the card (the whole run if it
    // never did): what the card's holdover costs, without the pull-in from the start offset.
    for (const PlotPoint& p : utcPoints) {
        if (firstInsideS < 0 || p.timeS >= firstInsideS) {
            result.maxAbsUtcMs = std::max(result.maxAbsUtcMs, std::fabs(p.offsetMs));
        }
    }

    const std::vector<sim::SimEvent> events = pc.eventLog.Events();
    for (size_t i = 0; i < events.size(); ++i) {
        std::string text = pc.eventLog.Render(i);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const double t = secondsOf(events[i].time);
        lines.push_back(
            {t, order++,
             Printf("event   %u %-11s %s", events[i].id, TypeName(events[i].type), text.c_str())});
        result.events.push_back({t, static_cast<int>(events[i].id), events[i].type, ""});
        if (events[i].id == sync::kMsgBadCardDate) ++result.cardDateReports;
    }
    for (const sim::SimMessageBox& box : pc.messageBoxes.Boxes()) {
        const double shown = secondsOf(box.shownAt);
        std::string closed =
            box.closedAt >= 0 ? ", closed at " + FormatVirtualTime(secondsOf(box.closedAt)) : "";
        lines.push_back({shown, order++,
                         Printf("pop-up  \"%s\": %s%s", box.caption.c_str(), box.text.c_str(),
                                closed.c_str())});
        result.events.push_back({shown, 0, kPopupMark, ""});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.timeS < b.timeS; });
    for (double t : result.stepTimesS) result.events.push_back({t, 0, kStepMark, ""});
    std::stable_sort(result.events.begin(), result.events.end(),
                     [](const PlotEvent& a, const PlotEvent& b) { return a.timeS < b.timeS; });

    PrintHeader(s, service.Parameters(), out);
    for (const Line& line : lines)
        out << FormatVirtualTime(line.timeS) << "  " << line.text << "\n";
    PrintSummary(s, result, options.lockBoundMs > 0, out);

    if (tracking) {
        const std::string log = pc.files.Contents(kSimTrackingLog);
        std::ofstream file(options.trackingLogPath, std::ios::binary);
        file << log;
        file.close();
        if (!file) {
            out << "qxrsim: cannot write " << options.trackingLogPath << "\n";
            result.exitCode = 1;
        } else {
            out << "tracking log written to " << options.trackingLogPath << ":\n";
            PrintTrackingFigures(result.tracking, out);
        }
    }

    if (!options.plotPath.empty()) {
        PlotInput plot;
        plot.title = "qxrsim " + s.name + ": system clock against the card and true UTC";
        plot.offsets = thinner.Take();
        plot.utcOffsets = std::move(utcPoints);
        plot.servedOffsets = clients.TakePlot();
        plot.events = result.events;
        plot.lockBoundMs = result.lockBoundMs;
        std::string error;
        if (!WriteOffsetPlot(plot, options.plotPath, &error)) {
            out << "qxrsim: " << error << "\n";
            result.exitCode = 1;
        } else {
            out << "  plot written to " << options.plotPath << "\n";
        }
    }
    return result;
}

}  // namespace qxr::simulation
