// ntp_load: offers an NTP server on this machine rising, paced request rates from many
// loopback source addresses (one socket bound to each 127.100.x.y, so that a per-address
// rate limit sees many quiet clients), a few seconds per rate, and prints per rate the
// answered share, the median and 99th-percentile reply latency, the requests it skipped
// itself and the host's UDP receive-buffer errors over the step, then the highest rate
// answered with under 1 % loss.
//
//   ntp_load --port N [--server 127.0.0.1] [--sources 64] [--seconds 3]
//            [--rates 1000,2000,...] [--stop-loss 20] [--refine 0]
//   ntp_load --port N --flood RATE [--seconds 10] [--sources 256]
//
// Pacing is by the clock, but when the generator itself falls behind (it was not scheduled,
// the machine is busy) it never sends the overdue requests as one burst: it spreads them
// (at most 2 ms' worth, or 16, at once) and skips, counting them, those more than 10 ms
// late. A step that skipped 5 % or more was not really offered and counts neither way.
// --refine N: after the ladder, up to N more steps, each halfway between the highest clean
// rate and the lowest lossy one above it (until they are within 3 %).
// --flood RATE: one fixed rate for --seconds (no ladder, no stop), then fresh requests every
// 10 ms for 3 s, each from an address of its own that took no part in the flood
// (127.101.x.y: a per-client rate limit has no reason to hold them back); prints
// what the flood got answered and how soon fresh requests were answered again after it ended
// (for a flood scenario, with tests/ntp_load/cpu_time.sh).
//
// Only loopback servers are accepted: this is a load test, never to be aimed at a network.
// Every run is bounded: each rate lasts its seconds plus at most one second for late replies
// (until none came for 200 ms), and
// the ladder stops after the first rate that loses more than --stop-loss percent.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ntp_load/load_figures.h"

namespace {

using qxr::ntpload::StepFigures;

constexpr int kPacketSize = 48;
constexpr int kMaxSources = 4096;
constexpr int kMaxRate = 1000000;
constexpr int kMaxSeconds = 60;
constexpr int64_t kMaxLateNs = 10000000;  // overdue by more: skipped
constexpr int64_t kBurstNs = 2000000;     // at most this many nanoseconds' requests at once
constexpr double kMaxLossPct = 1.0;
constexpr double kMaxSkipPct = 5.0;
constexpr double kRefineGapPct = 3.0;

struct Options {
    std::string server = "127.0.0.1";
    int port = 0;
    int sources = 64;
    int seconds = 3;
    double stop_loss_pct = 20;
    int refine = 0;
    int flood_rate = 0;  // 0: the ladder
    std::vector<int> rates = {1000, 2000, 5000, 10000, 15000, 20000, 30000, 50000, 80000, 120000};
};

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool ParseInt(const char* text, int min, int max, int* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
    *out = static_cast<int>(v);
    return true;
}

bool ParseRates(const std::string& text, std::vector<int>* rates) {
    rates->clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? comma : comma - start);
        int rate = 0;
        if (!ParseInt(item.c_str(), 1, kMaxRate, &rate)) return false;
        rates->push_back(rate);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !rates->empty();
}

const char* kUsage =
    "Usage: ntp_load --port N [--server 127.x.y.z] [--sources 1..4096] [--seconds 1..60]\n"
    "                [--rates R1,R2,...] [--stop-loss PCT] [--refine N]\n"
    "       ntp_load --port N --flood RATE [--seconds S] [--sources N] [--server ...]\n";

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "ntp_load: %s needs a value\n", name.c_str());
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (name == "--port") {
            ok = ParseInt(value, 1, 65535, &o->port);
        } else if (name == "--server") {
            o->server = value;
        } else if (name == "--sources") {
            ok = ParseInt(value, 1, kMaxSources, &o->sources);
        } else if (name == "--seconds") {
            ok = ParseInt(value, 1, kMaxSeconds, &o->seconds);
        } else if (name == "--rates") {
            ok = ParseRates(value, &o->rates);
        } else if (name == "--stop-loss") {
            int pct = 0;
            ok = ParseInt(value, 0, 100, &pct);
            o->stop_loss_pct = pct;
        } else if (name == "--refine") {
            ok = ParseInt(value, 0, 20, &o->refine);
        } else if (name == "--flood") {
            ok = ParseInt(value, 1, kMaxRate, &o->flood_rate);
        } else {
            std::fprintf(stderr, "ntp_load: unknown option %s\n", name.c_str());
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "ntp_load: bad value '%s' for %s\n", value, name.c_str());
            return false;
        }
    }
    if (o->port == 0) {
        std::fprintf(stderr, "ntp_load: --port is required\n");
        return false;
    }
    return true;
}

// One connected UDP socket per source address, all watched by one epoll set.
class Sources {
  public:
    ~Sources() {
        for (int fd : fds_) close(fd);
        if (epoll_ >= 0) close(epoll_);
    }

    // `count` sources from 127.100.0.1 upwards and `extra` more from 127.101.0.1 upwards
    // (clients that took no part in a flood: a per-client rate limit has no reason to hold
    // them back).
    bool Open(const sockaddr_in& server, int count, int extra) {
        epoll_ = epoll_create1(0);
        if (epoll_ < 0) return Fail("epoll_create1");
        for (int i = 0; i < count + extra; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            if (fd < 0) return Fail("socket");
            fds_.push_back(fd);
            const int buffer = 1 << 20;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
            sockaddr_in local = {};
            local.sin_family = AF_INET;
            // 127.100.0.1 (127.101.0.1) upwards; the last octet never 0 or 255.
            const uint32_t n = static_cast<uint32_t>(i < count ? i : i - count);
            const uint32_t host =
                (127u << 24) | ((i < count ? 100u : 101u) << 16) | ((n / 250) << 8) | (n % 250 + 1);
            local.sin_addr.s_addr = htonl(host);
            if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
                return Fail("bind to a 127.100.x.y or 127.101.x.y source address");
            if (connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
                return Fail("connect");
            epoll_event ev = {};
            ev.events = EPOLLIN;
            ev.data.u32 = static_cast<uint32_t>(i);
            if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return Fail("epoll_ctl");
        }
        return true;
    }

    int size() const { return static_cast<int>(fds_.size()); }
    int fd(int i) const { return fds_[static_cast<size_t>(i)]; }
    int epoll() const { return epoll_; }

  private:
    bool Fail(const char* what) {
        std::fprintf(stderr, "ntp_load: %s failed: %s\n", what, std::strerror(errno));
        return false;
    }
    std::vector<int> fds_;
    int epoll_ = -1;
};

void PutBe64(unsigned char* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}
uint64_t GetBe64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// The host's UDP receive-buffer errors so far (every socket of the machine); -1 when
// /proc/net/snmp cannot be read.
int64_t RcvbufErrors() {
    std::ifstream in("/proc/net/snmp");
    std::stringstream text;
    text << in.rdbuf();
    int64_t errors = -1;
    if (!qxr::ntpload::ParseUdpRcvbufErrors(text.str(), &errors)) return -1;
    return errors;
}

// A set of requests: each carries (tag << 32 | index) as its transmit timestamp, and the
// server echoes it as the origin, which names the request a reply answers.
struct Requests {
    uint32_t tag = 0;
    std::vector<int64_t> sent_ns;  // 0: not sent (skipped, refused, not yet due)
    std::vector<char> answered;
    std::vector<int64_t> latency_ns;
    int64_t sent = 0;
    int64_t skipped = 0;

    Requests(uint32_t t, int64_t total)
        : tag(t), sent_ns(static_cast<size_t>(total), 0), answered(static_cast<size_t>(total), 0) {
        latency_ns.reserve(static_cast<size_t>(total));
    }
    bool AllAnswered() const { return static_cast<int64_t>(latency_ns.size()) >= sent; }
};

struct Counters {
    int64_t send_errors = 0;
    int64_t refused = 0;
    int64_t foreign = 0;  // replies that answer none of the live requests
};

// Reads what has arrived (waiting up to timeout_ms for it); returns the valid replies read.
int64_t DrainReplies(const Sources& s, int timeout_ms, const std::vector<Requests*>& live,
                     Counters* c) {
    epoll_event events[256];
    const int n = epoll_wait(s.epoll(), events, 256, timeout_ms);
    int64_t got = 0;
    for (int e = 0; e < n; ++e) {
        const int fd = s.fd(static_cast<int>(events[e].data.u32));
        unsigned char buf[512];
        for (;;) {
            const ssize_t len = recv(fd, buf, sizeof buf, 0);
            if (len < 0) {
                if (errno == ECONNREFUSED) {
                    ++c->refused;
                    continue;
                }
                break;  // EAGAIN: this socket is empty
            }
            const int64_t now = NowNs();
            const int mode = buf[0] & 7;
            const uint64_t origin = len >= kPacketSize ? GetBe64(buf + 24) : 0;
            const uint64_t index = origin & 0xffffffffu;
            Requests* r = nullptr;
            for (Requests* candidate : live) {
                if (candidate->tag == (origin >> 32)) r = candidate;
            }
            if (len != kPacketSize || mode != 4 || r == nullptr || index >= r->sent_ns.size() ||
                r->sent_ns[index] == 0 || r->answered[index]) {
                ++c->foreign;
                continue;
            }
            r->answered[index] = 1;
            r->latency_ns.push_back(now - r->sent_ns[index]);
            ++got;
        }
    }
    return got;
}

// Sends r's requests paced at `rate` (skipping what falls more than kMaxLateNs behind) from
// sources first .. first + count - 1 in turn, reading the replies of every live set between
// the sends.
void Offer(const Sources& s, int first, int count, Requests* r, int rate,
           const std::vector<Requests*>& live, Counters* c) {
    unsigned char packet[kPacketSize] = {};
    packet[0] = (0 << 6) | (4 << 3) | 3;  // LI 0, version 4, client
    const int64_t total = static_cast<int64_t>(r->sent_ns.size());
    const double interval_ns = 1e9 / rate;
    const int64_t max_burst = std::max<int64_t>(16, static_cast<int64_t>(kBurstNs / interval_ns));
    const int64_t start = NowNs();
    int64_t next = 0;
    while (next < total) {
        const qxr::ntpload::PaceDecision d =
            qxr::ntpload::Pace(NowNs() - start, interval_ns, next, total, kMaxLateNs, max_burst);
        r->skipped += d.skip;
        next += d.skip;
        for (int64_t k = 0; k < d.send; ++k, ++next) {
            PutBe64(packet + 40,
                    (static_cast<uint64_t>(r->tag) << 32) | static_cast<uint64_t>(next));
            const int fd = s.fd(first + static_cast<int>(next % count));
            const int64_t now = NowNs();
            if (send(fd, packet, sizeof packet, 0) == kPacketSize) {
                r->sent_ns[static_cast<size_t>(next)] = now;
                ++r->sent;
            } else if (errno == ECONNREFUSED) {
                ++c->refused;  // an earlier request was refused; this one is lost too
            } else {
                ++c->send_errors;
            }
        }
        DrainReplies(s, 1, live, c);  // replies are read between the batches (1 ms at most)
    }
}

// Late replies: until `until`, until every live request is answered, or until none came for
// 200 ms (the server has emptied its queue; what is still missing was dropped).
void DrainUntil(const Sources& s, int64_t until, const std::vector<Requests*>& live, Counters* c) {
    int64_t last_reply = NowNs();
    for (;;) {
        bool open = false;
        for (const Requests* r : live) open = open || !r->AllAnswered();
        const int64_t now = NowNs();
        if (!open || now >= until || now - last_reply >= 200000000) return;
        if (DrainReplies(s, 10, live, c) > 0) last_reply = NowNs();
    }
}

void PrintCounters(const Counters& c) {
    if (c.send_errors || c.refused || c.foreign) {
        std::printf("  (send errors %lld, refused %lld, other replies %lld)",
                    static_cast<long long>(c.send_errors), static_cast<long long>(c.refused),
                    static_cast<long long>(c.foreign));
    }
}

long long ErrorsSince(int64_t before) {
    const int64_t after = RcvbufErrors();
    return before < 0 || after < 0 ? -1 : static_cast<long long>(after - before);
}

StepFigures RunStep(const Sources& s, int rate, int seconds, uint32_t tag, const char* note) {
    Requests r(tag, static_cast<int64_t>(rate) * seconds);
    Counters c;
    const int64_t errors_before = RcvbufErrors();
    const int64_t start = NowNs();
    Offer(s, 0, s.size(), &r, rate, {&r}, &c);
    const double elapsed = static_cast<double>(NowNs() - start) / 1e9;
    DrainUntil(s, NowNs() + 1000000000, {&r}, &c);
    StepFigures f = qxr::ntpload::SummarizeStep(rate, r.sent, std::move(r.latency_ns), r.skipped);
    std::printf(
        "rate %7d/s  sent %8lld (%.0f/s)  answered %8lld  loss %6.2f %%  "
        "median %8.1f us  p99 %9.1f us  skipped %lld  rcvbuf errors %lld%s",
        rate, static_cast<long long>(f.sent), static_cast<double>(f.sent) / elapsed,
        static_cast<long long>(f.answered), f.loss_pct, f.median_us, f.p99_us,
        static_cast<long long>(f.skipped), ErrorsSince(errors_before), note);
    PrintCounters(c);
    std::printf("\n");
    std::fflush(stdout);
    return f;
}

constexpr int kFreshRate = 100, kFreshSeconds = 3;
constexpr int kFreshSources = kFreshRate * kFreshSeconds;  // one request each

// The flood: `rate` for `seconds` from the flood's sources, then fresh requests every 10 ms
// for 3 s, each from an address of its own (127.101.x.y) while the flood's late replies are
// still read.
void RunFlood(const Sources& s, int rate, int seconds, uint32_t tag) {
    const int flooders = s.size() - kFreshSources;
    Requests flood(tag, static_cast<int64_t>(rate) * seconds);
    Requests fresh(tag + 1, kFreshRate * kFreshSeconds);
    Counters c;
    const int64_t errors_before = RcvbufErrors();
    const int64_t start = NowNs();
    Offer(s, 0, flooders, &flood, rate, {&flood}, &c);
    const int64_t flood_end = NowNs();
    const long long flood_errors = ErrorsSince(errors_before);
    Offer(s, flooders, kFreshSources, &fresh, kFreshRate, {&flood, &fresh}, &c);
    DrainUntil(s, NowNs() + 1000000000, {&fresh}, &c);

    const double flood_s = static_cast<double>(flood_end - start) / 1e9;
    const StepFigures f =
        qxr::ntpload::SummarizeStep(rate, flood.sent, flood.latency_ns, flood.skipped);
    std::printf(
        "flood %d/s for %d s: sent %lld (%.0f/s)  skipped %lld  answered %lld (%.0f/s)  "
        "loss %.2f %%  median %.1f us  p99 %.1f us  rcvbuf errors %lld",
        rate, seconds, static_cast<long long>(f.sent), static_cast<double>(f.sent) / flood_s,
        static_cast<long long>(f.skipped), static_cast<long long>(f.answered),
        static_cast<double>(f.answered) / flood_s, f.loss_pct, f.median_us, f.p99_us, flood_errors);
    PrintCounters(c);
    std::printf("\n");

    // How soon after the flood a fresh request was answered, and the share answered from 1 s
    // after the flood on (a server that recovers answers them all).
    int64_t first_ms = -1, late_sent = 0, late_answered = 0;
    for (size_t i = 0; i < fresh.sent_ns.size(); ++i) {
        if (fresh.sent_ns[i] == 0) continue;
        const int64_t after_ns = fresh.sent_ns[i] - flood_end;
        if (fresh.answered[i] && first_ms < 0) first_ms = after_ns / 1000000;
        if (after_ns >= 1000000000) {
            ++late_sent;
            if (fresh.answered[i]) ++late_answered;
        }
    }
    const StepFigures after =
        qxr::ntpload::SummarizeStep(kFreshRate, fresh.sent, fresh.latency_ns, fresh.skipped);
    std::printf(
        "after the flood: fresh requests every 10 ms for %d s: answered %lld of %lld, "
        "median %.1f us; ",
        kFreshSeconds, static_cast<long long>(after.answered), static_cast<long long>(after.sent),
        after.median_us);
    if (first_ms >= 0) {
        std::printf("the first answered one was sent %lld ms after the flood ended; ",
                    static_cast<long long>(first_ms));
    } else {
        std::printf("none answered; ");
    }
    std::printf("from 1 s after the flood on: %lld of %lld answered\n",
                static_cast<long long>(late_answered), static_cast<long long>(late_sent));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(o.port));
    if (inet_pton(AF_INET, o.server.c_str(), &server.sin_addr) != 1 ||
        (ntohl(server.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr,
                     "ntp_load: the server must be a loopback address 127.x.y.z, not '%s'\n",
                     o.server.c_str());
        return 2;
    }
    Sources sources;
    if (!sources.Open(server, o.sources, o.flood_rate > 0 ? kFreshSources : 0)) return 1;
    std::printf("ntp_load: %s port %d, %d source addresses from 127.100.0.1, %d s per rate\n",
                o.server.c_str(), o.port, o.sources, o.seconds);
    uint32_t tag = static_cast<uint32_t>(NowNs()) | 1u;
    if (o.flood_rate > 0) {
        RunFlood(sources, o.flood_rate, o.seconds, tag);
        return 0;
    }
    std::vector<StepFigures> steps;
    for (int rate : o.rates) {
        steps.push_back(RunStep(sources, rate, o.seconds, tag++, ""));
        if (steps.back().answered == 0) {
            std::printf("ntp_load: no replies at all; the server does not answer\n");
            break;
        }
        if (steps.back().loss_pct > o.stop_loss_pct) break;  // saturated: stop the ladder
    }
    for (int i = 0; i < o.refine && !steps.empty() && steps.front().answered > 0; ++i) {
        const int rate =
            qxr::ntpload::NextRefineRate(steps, kMaxLossPct, kMaxSkipPct, kRefineGapPct);
        if (rate == 0) break;
        steps.push_back(RunStep(sources, rate, o.seconds, tag++, "  (refining)"));
    }
    const int best = qxr::ntpload::HighestCleanRate(steps, kMaxLossPct, kMaxSkipPct);
    std::printf("highest rate with under 1 %% loss: %d/s\n", best);
    return steps.empty() || steps.front().answered == 0 ? 1 : 0;
}
