// ntp_load: offers an NTP server on this machine rising, paced request rates from many
// loopback source addresses (one socket bound to each 127.100.x.y, so that a per-address
// rate limit sees many quiet clients), a few seconds per rate, and prints per rate the
// answered share and the median and 99th-percentile reply latency, then the highest rate
// answered with under 1 % loss.
//
//   ntp_load --port N [--server 127.0.0.1] [--sources 64] [--seconds 3]
//            [--rates 1000,2000,...] [--stop-loss 20]
//
// Only loopback servers are accepted: this is a load test, never to be aimed at a network.
// Every run is bounded: each rate lasts its seconds plus one second for late replies, and
// the ladder stops after the first rate that loses more than --stop-loss percent.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/ntp_load/load_figures.h"

namespace {

using qxr::ntpload::StepFigures;

constexpr int kPacketSize = 48;
constexpr int kMaxSources = 4096;
constexpr int kMaxRate = 1000000;
constexpr int kMaxSeconds = 60;

struct Options {
    std::string server = "127.0.0.1";
    int port = 0;
    int sources = 64;
    int seconds = 3;
    double stop_loss_pct = 20;
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
    "                [--rates R1,R2,...] [--stop-loss PCT]\n";

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

    bool Open(const sockaddr_in& server, int count) {
        epoll_ = epoll_create1(0);
        if (epoll_ < 0) return Fail("epoll_create1");
        for (int i = 0; i < count; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            if (fd < 0) return Fail("socket");
            fds_.push_back(fd);
            const int buffer = 1 << 20;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
            sockaddr_in local = {};
            local.sin_family = AF_INET;
            // 127.100.0.1 upwards; the last octet never 0 or 255.
            const uint32_t host = (127u << 24) | (100u << 16) |
                                  (static_cast<uint32_t>(i / 250) << 8) |
                                  static_cast<uint32_t>(i % 250 + 1);
            local.sin_addr.s_addr = htonl(host);
            if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
                return Fail("bind to a 127.100.x.y source address");
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

// One rate step. Each request carries (step tag << 32 | index) as its transmit timestamp;
// the server echoes it as the origin, which names the request a reply answers.
struct StepCounters {
    int64_t send_errors = 0;
    int64_t refused = 0;
    int64_t foreign = 0;  // replies that are not a valid answer to this step's requests
};

int64_t DrainReplies(const Sources& s, int timeout_ms, uint32_t tag,
                     const std::vector<int64_t>& sent_ns, std::vector<int64_t>* latency_ns,
                     std::vector<char>* answered, StepCounters* c) {
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
            if (len != kPacketSize || mode != 4 || (origin >> 32) != tag ||
                index >= sent_ns.size() || (*answered)[index]) {
                ++c->foreign;
                continue;
            }
            (*answered)[index] = 1;
            latency_ns->push_back(now - sent_ns[index]);
            ++got;
        }
    }
    return got;
}

StepFigures RunStep(const Sources& s, int rate, int seconds, uint32_t tag) {
    const int64_t total = static_cast<int64_t>(rate) * seconds;
    std::vector<int64_t> sent_ns(static_cast<size_t>(total), 0);
    std::vector<char> answered(static_cast<size_t>(total), 0);
    std::vector<int64_t> latency_ns;
    latency_ns.reserve(static_cast<size_t>(total));
    StepCounters c;
    unsigned char packet[kPacketSize] = {};
    packet[0] = (0 << 6) | (4 << 3) | 3;  // LI 0, version 4, client
    int64_t sent = 0, next = 0;
    const int64_t start = NowNs();
    const double interval_ns = 1e9 / rate;
    while (next < total) {
        // Everything due by now leaves; replies are read between the batches (1 ms at most).
        const int64_t now = NowNs();
        while (next < total && start + static_cast<int64_t>(next * interval_ns) <= now) {
            PutBe64(packet + 40, (static_cast<uint64_t>(tag) << 32) | static_cast<uint64_t>(next));
            const int fd = s.fd(static_cast<int>(next % s.size()));
            sent_ns[static_cast<size_t>(next)] = NowNs();
            if (send(fd, packet, sizeof packet, 0) == kPacketSize) {
                ++sent;
            } else if (errno == ECONNREFUSED) {
                ++c.refused;  // an earlier request was refused; this one is lost too
            } else {
                ++c.send_errors;
            }
            ++next;
        }
        DrainReplies(s, 1, tag, sent_ns, &latency_ns, &answered, &c);
    }
    const double elapsed = static_cast<double>(NowNs() - start) / 1e9;
    // Late replies: up to one second, or until every request is answered.
    const int64_t drain_end = NowNs() + 1000000000;
    while (static_cast<int64_t>(latency_ns.size()) < sent && NowNs() < drain_end) {
        DrainReplies(s, 10, tag, sent_ns, &latency_ns, &answered, &c);
    }
    StepFigures f = qxr::ntpload::SummarizeStep(rate, sent, std::move(latency_ns));
    std::printf(
        "rate %7d/s  sent %8lld (%.0f/s)  answered %8lld  loss %6.2f %%  "
        "median %8.1f us  p99 %9.1f us",
        rate, static_cast<long long>(f.sent), static_cast<double>(sent) / elapsed,
        static_cast<long long>(f.answered), f.loss_pct, f.median_us, f.p99_us);
    if (c.send_errors || c.refused || c.foreign) {
        std::printf("  (send errors %lld, refused %lld, other replies %lld)",
                    static_cast<long long>(c.send_errors), static_cast<long long>(c.refused),
                    static_cast<long long>(c.foreign));
    }
    std::printf("\n");
    std::fflush(stdout);
    return f;
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
    if (!sources.Open(server, o.sources)) return 1;
    std::printf("ntp_load: %s port %d, %d source addresses from 127.100.0.1, %d s per rate\n",
                o.server.c_str(), o.port, o.sources, o.seconds);
    std::vector<StepFigures> steps;
    uint32_t tag = static_cast<uint32_t>(NowNs()) | 1u;
    for (int rate : o.rates) {
        steps.push_back(RunStep(sources, rate, o.seconds, tag++));
        if (steps.back().answered == 0) {
            std::printf("ntp_load: no replies at all; the server does not answer\n");
            break;
        }
        if (steps.back().loss_pct > o.stop_loss_pct) break;  // saturated: stop the ladder
    }
    const int best = qxr::ntpload::HighestCleanRate(steps, 1.0);
    std::printf("highest rate with under 1 %% loss: %d/s\n", best);
    return steps.empty() || steps.front().answered == 0 ? 1 : 0;
}
