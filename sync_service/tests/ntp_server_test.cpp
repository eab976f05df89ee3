// The NTP server's rules, each as one table: which requests are answered and how, the allow
// list, the rate limit, what the replies say about the card, the card-fitted clock; then the
// server in the service on the simulated PC.
#include "sync_service/ntp_server/ntp_server.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_datagram_sockets.h"
#include "platform/sim/sim_registry.h"
#include "sync_service/ntp_server/card_clock_fit.h"
#include "sync_service/ntp_server/ntp_allow_list.h"
#include "sync_service/ntp_server/ntp_packet.h"
#include "sync_service/ntp_server/ntp_rate_limit.h"
#include "sync_service/ntp_server/ntp_settings.h"
#include "sync_service/ntp_server/served_clock.h"
#include "sync_service/sync_service.h"
#include "sync_service/tests/service_test_machine.h"

namespace qxr::ntp {
namespace {

constexpr int64_t kSecond = 10000000;
constexpr int64_t kBase = 134410752000000000LL;  // 2026-12-07 00:00 UTC

std::vector<uint8_t> Request(int version, int mode, size_t size = kHeaderSize) {
    std::vector<uint8_t> r(kHeaderSize, 0);
    r[0] = static_cast<uint8_t>((version << 3) | mode);
    r[2] = 6;
    for (int i = 0; i < 8; ++i) r[40 + i] = static_cast<uint8_t>(0xA0 + i);
    r.resize(size, 0);
    return r;
}

std::vector<uint8_t> WithExtension(std::vector<uint8_t> r, size_t length) {
    const size_t at = r.size();
    r.resize(at + length, 0);
    r[at + 2] = static_cast<uint8_t>(length >> 8);
    r[at + 3] = static_cast<uint8_t>(length);
    return r;
}

platform::SocketAddress V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
platform::SocketAddress V6(const char* text);

// One datagram as it reaches the server: its sender, its bytes, and how long after the one
// before it arrives.
struct Arrival {
    platform::SocketAddress from;
    std::vector<uint8_t> data;
    int64_t afterMs = 0;
};

std::vector<Arrival> From(const platform::SocketAddress& from, std::vector<uint8_t> data,
                          int times = 1) {
    return std::vector<Arrival>(static_cast<size_t>(times), Arrival{from, std::move(data), 0});
}

// The server on the simulated network, its settings read from the registry as the service
// reads them, the card on GPS: every arrival is delivered and served in turn.
struct ServerRun {
    ntp::NtpSettings settings;
    std::vector<sim::SimDatagram> replies;
    NtpServerCounts counts;
};

ServerRun RunServer(const std::vector<Arrival>& arrivals,
                    const std::function<void(sim::SimRegistry&, const std::string&)>& values) {
    sim::SimClock clock;
    sim::SimRegistry registry;
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Parameters";
    registry.SetDword(key, "NtpServer", 1);
    if (values) values(registry, key);
    ServerRun run;
    HKEY parameters = nullptr;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_QUERY_VALUE, &parameters),
              ERROR_SUCCESS);
    ReadNtpSettings(registry, parameters, &run.settings);
    registry.RegCloseKey(parameters);
    sim::SimDatagramSockets network;
    ReadingHandover handover;
    auto server = std::make_unique<NtpServer>(network, clock, clock, handover, run.settings);
    EXPECT_EQ(server->Open(), 0);
    CardReading status;
    status.kind = CardReading::kStatus;
    status.reference = 1;
    handover.Hand(status);
    // Enough readings on GPS, a second apart, for the server to serve its line.
    for (int i = 0; i < kConfirmReadings; ++i) {
        clock.Advance(10000000);
        LARGE_INTEGER counter{};
        clock.QueryPerformanceCounter(&counter);
        CardReading time;
        time.kind = CardReading::kTime;
        time.reference = 1;
        time.counter = counter.QuadPart;
        time.cardTime = clock.TrueTime();
        handover.Hand(time);
    }
    for (const Arrival& a : arrivals) {
        clock.Advance(a.afterMs * 10000);
        EXPECT_TRUE(network.Deliver(a.from, kDefaultNtpPort, a.data));
        server->ServeWaiting();
    }
    run.replies = network.TakeSent();
    run.counts = server->Counts();
    return run;
}

TEST(NtpPacketTest, OnlyWellFormedClientAndSymmetricRequestsAreAnswered) {
    struct Case {
        const char* what;
        std::vector<uint8_t> request;
        int replyMode;  // 0 = no reply
    };
    const Case cases[] = {
        {"v4 client", Request(4, 3), 4},
        {"v3 client", Request(3, 3), 4},
        {"v1 client", Request(1, 3), 4},
        {"v1 in mode 0 (RFC 1059 had no client mode)", Request(1, 0), 4},
        {"v2 in mode 0", Request(2, 0), 0},
        {"symmetric active", Request(4, 1), 2},
        {"version 0", Request(0, 3), 0},
        {"version 5", Request(5, 3), 0},
        {"symmetric passive", Request(4, 2), 0},
        {"server", Request(4, 4), 0},
        {"broadcast", Request(4, 5), 0},
        {"control (mode 6)", Request(2, 6), 0},
        {"private (mode 7)", Request(2, 7), 0},
        {"47 bytes", Request(4, 3, 47), 0},
        {"empty", {}, 0},
        {"MD5 MAC (68 bytes)", Request(4, 3, 68), 0},
        {"SHA-1 MAC (72 bytes)", Request(4, 3, 72), 0},
        {"Windows extended authenticator (120 bytes)", Request(4, 3, 120), 0},
        {"extension field", WithExtension(Request(4, 3), 28), 4},
        {"two extension fields", WithExtension(WithExtension(Request(4, 3), 16), 28), 4},
        {"extension field of length 12", WithExtension(Request(4, 3), 12), 0},
        {"extension field past the end",
         [] {
             auto r = WithExtension(Request(4, 3), 32);
             r[51] = 64;
             return r;
         }(),
         0},
        {"extension field on v3", WithExtension(Request(3, 3), 28), 0},
        {"extension field then a MAC",
         [] {
             auto r = WithExtension(Request(4, 3), 28);
             r.resize(r.size() + 20, 0);
             return r;
         }(),
         0},
    };
    const platform::SocketAddress client = V4(10, 0, 0, 1);
    for (const Case& c : cases) {
        const ServerRun run = RunServer(From(client, c.request), nullptr);
        if (c.replyMode == 0) {
            EXPECT_TRUE(run.replies.empty()) << c.what;
            EXPECT_EQ(run.counts.malformed, 1u) << c.what;
            continue;
        }
        ASSERT_EQ(run.replies.size(), 1u) << c.what;
        const uint8_t* reply = run.replies[0].data.data();
        ASSERT_EQ(run.replies[0].data.size(), kHeaderSize) << c.what;
        EXPECT_LE(kHeaderSize, c.request.size()) << c.what;
        EXPECT_EQ(reply[0] & 7, c.replyMode) << c.what;
        EXPECT_EQ((reply[0] >> 3) & 7, (c.request[0] >> 3) & 7) << c.what;
        EXPECT_EQ(reply[1], 1) << c.what;
        EXPECT_EQ(reply[2], 6) << c.what;
        EXPECT_EQ(std::memcmp(reply + 24, c.request.data() + 40, 8), 0) << c.what;
        EXPECT_NE(std::memcmp(reply + 32, std::vector<uint8_t>(8, 0).data(), 8), 0) << c.what;
        EXPECT_GE(std::memcmp(reply + 40, reply + 32, 8), 0) << c.what;  // transmit >= receive
        EXPECT_EQ(std::memcmp(reply + 12, "GPS", 4), 0) << c.what;
    }
}

TEST(NtpPacketTest, TimestampsAndFormats) {
    // 2026-12-07 00:00:00.5 UTC: 4,005,590,400 s since 1900 (era 0), half a second.
    const uint64_t ntp = FileTimeToNtp(kBase + kSecond / 2);
    EXPECT_EQ(ntp >> 32, 4005590400u);
    EXPECT_EQ(ntp & 0xFFFFFFFFu, 0x80000000u);
    EXPECT_EQ(NtpToFileTime(ntp, kBase), kBase + kSecond / 2);
    // 2036-02-07 06:28:16 UTC starts era 1: the timestamp wraps, the time does not.
    const int64_t era1 = kBase + int64_t{289376896} * kSecond;
    EXPECT_EQ(FileTimeToNtp(era1) >> 32, 0u);
    EXPECT_EQ(NtpToFileTime(FileTimeToNtp(era1 + 7), era1), era1 + 7);
    EXPECT_EQ(NtpShortFromTicks(kSecond / 1000), 66u);  // 1 ms, rounded up
    EXPECT_EQ(NtpShortFromTicks(-1), 0u);
    EXPECT_EQ(NtpShortFromTicks(int64_t{1} << 60), 0xFFFFFFFFu);
    EXPECT_EQ(PrecisionOf(10000000), -23);
    EXPECT_EQ(PrecisionOf(1193182), -20);
    EXPECT_EQ(PrecisionOf(3579545), -21);
}

platform::SocketAddress V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    platform::SocketAddress s;
    s.family = platform::kAfInet;
    s.address[0] = a, s.address[1] = b, s.address[2] = c, s.address[3] = d;
    return s;
}

platform::SocketAddress V6(const char* text) {
    platform::SocketAddress s;
    s.family = platform::kAfInet6;
    EXPECT_TRUE(ParseIpv6(text, std::strlen(text), s.address)) << text;
    return s;
}

TEST(NtpAllowListTest, Entries) {
    struct Case {
        const char* entry;
        bool parses;
        platform::SocketAddress inside;
        platform::SocketAddress outside;
    };
    const Case cases[] = {
        {"192.168.1.0/24", true, V4(192, 168, 1, 77), V4(192, 168, 2, 1)},
        {"10.0.0.0/8", true, V4(10, 200, 3, 4), V4(11, 0, 0, 1)},
        {"127.0.0.1", true, V4(127, 0, 0, 1), V4(127, 0, 0, 2)},
        {"0.0.0.0/0", true, V4(8, 8, 8, 8), V6("::1")},
        {"172.16.0.0/12", true, V4(172, 31, 255, 255), V4(172, 32, 0, 0)},
        {"fd00::/8", true, V6("fd12:3456::1"), V6("fe80::1")},
        {"2001:db8::/32", true, V6("2001:db8:ffff::"), V6("2001:db9::")},
        {"::1", true, V6("::1"), V4(127, 0, 0, 1)},
    };
    for (const Case& c : cases) {
        NtpAllowList list;
        list.Restrict();
        ASSERT_EQ(list.Add(c.entry), c.parses) << c.entry;
        EXPECT_TRUE(list.Allows(c.inside)) << c.entry;
        EXPECT_FALSE(list.Allows(c.outside)) << c.entry;
    }
    for (const char* bad : {"", "192.168.1.0/33", "192.168.1/24", "256.1.1.1", "1.2.3.4.5",
                            "1.2.3.4/", "1.2.3.4/-1", "host.example", "1:2:3:4:5:6:7:8:9",
                            "1::2::3", "12345::", "::/129", " 1.2.3.4", "1.2.3.04/8x"}) {
        NtpAllowList list;
        EXPECT_FALSE(list.Add(bad)) << bad;
        EXPECT_EQ(list.Count(), 0) << bad;
    }
    // Unrestricted answers everyone; restricted and empty answers nobody.
    NtpAllowList list;
    EXPECT_TRUE(list.Allows(V4(1, 2, 3, 4)));
    list.Restrict();
    EXPECT_FALSE(list.Allows(V4(1, 2, 3, 4)));
}

TEST(NtpRateLimitTest, BurstThenOnePerIntervalWithLeak) {
    struct Case {
        RateLimitSettings settings;
        int requests;  // sent at once
        int expected;  // answered
    };
    const Case cases[] = {
        {{8, 8, 4}, 8, 8},        // the first burst
        {{8, 8, 4}, 48, 18},      // 8, then one in four of the other 40
        {{8, 8, 0}, 48, 8},       // no leak
        {{8, 8, 1}, 48, 48},      // everything leaks
        {{0, 8, 4}, 1000, 1000},  // limiting off
        {{2, 3, 4}, 11, 5},       // 3, then 2 of 8
    };
    for (const Case& c : cases) {
        auto limiter = std::make_unique<NtpRateLimiter>(c.settings);
        int answered = 0;
        for (int i = 0; i < c.requests; ++i) answered += limiter->Admit(V4(10, 0, 0, 1), 5000);
        EXPECT_EQ(answered, c.expected) << c.settings.intervalS << "/" << c.settings.burst;
    }
    // Credit comes back with time: one request per interval is always answered.
    auto limiter = std::make_unique<NtpRateLimiter>();
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(limiter->Admit(V4(10, 0, 0, 1), 0));
    EXPECT_FALSE(limiter->Admit(V4(10, 0, 0, 1), 7999));
    EXPECT_TRUE(limiter->Admit(V4(10, 0, 0, 1), 16000));
    EXPECT_TRUE(limiter->Admit(V4(10, 0, 0, 2), 16000));  // another client has its own
    // A flood from many addresses cannot push a table entry of a busy client out for long:
    // at worst the client starts afresh with a full burst.
    for (uint32_t i = 0; i < 100000; ++i) {
        limiter->Admit(V4(11, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)),
                       20000);
    }
    EXPECT_TRUE(limiter->Admit(V4(10, 0, 0, 1), 20000));
}

// Requests through the running server, in the order it checks them (allow list, packet,
// rate limit): what is answered, to where, and what is counted; and the registry values
// that shape it.
TEST(NtpServerTest, RequestsThroughTheServer) {
    using Values = std::function<void(sim::SimRegistry&, const std::string&)>;
    platform::SocketAddress linkLocal = V6("fe80::1");
    linkLocal.scopeId = 7;
    std::vector<Arrival> rotating;  // one /64, a new address for every request
    for (int i = 0; i < 100; ++i) {
        platform::SocketAddress a = V6("2001:db8:1:2::");
        a.address[14] = static_cast<uint8_t>(i >> 8), a.address[15] = static_cast<uint8_t>(i);
        rotating.push_back(Arrival{a, Request(4, 3)});
    }
    std::vector<Arrival> neighbours;  // two /64s of one /48: each its own client
    for (int i = 0; i < 20; ++i) {
        platform::SocketAddress a = V6("2001:db8:1:2::1");
        a.address[7] = static_cast<uint8_t>(i % 2);
        neighbours.push_back(Arrival{a, Request(4, 3)});
    }
    // Nine at once, the tenth 8 s later: answered at the default interval, not at 86,400 s.
    std::vector<Arrival> paced = From(V4(10, 0, 0, 1), Request(4, 3), 10);
    paced.back().afterMs = 8000;
    std::string fullList;
    for (int i = 0; i < NtpAllowList::kMaxNetworks; ++i) {
        fullList += "10.0." + std::to_string(i) + ".0/24" + std::string(1, '\0');
    }
    fullList += std::string("192.168.0.0/16\0", 15);
    struct Case {
        const char* what;
        std::vector<Arrival> arrivals;
        Values values;
        size_t answered;
        NtpServerCounts counts;
        const char* ignored;  // "name|why" of the first value or entry ignored, or ""
    };
    const Case cases[] = {
        {"oversized: dropped without its sender; the next request is answered",
         [] {
             auto a = From(V4(10, 0, 0, 1), Request(4, 3, 2000));
             a.push_back(Arrival{V4(10, 0, 0, 1), Request(4, 3)});
             return a;
         }(),
         nullptr,
         1,
         {1, 1, 0, 0},
         ""},
        {"not in NtpAllow",
         From(V4(192, 168, 0, 1), Request(4, 3)),
         [](sim::SimRegistry& r, const std::string& k) {
             r.SetString(k, "NtpAllow", REG_MULTI_SZ, std::string("10.0.0.0/8\0", 11));
         },
         0,
         {0, 0, 1, 0},
         ""},
        {"malformed from an allowed client",
         From(V4(10, 0, 0, 1), Request(4, 6)),
         nullptr,
         0,
         {0, 1, 0, 0},
         ""},
        {"IPv6: a /64 rotating its addresses is one client",
         rotating,
         nullptr,
         31,
         {31, 0, 0, 69},
         ""},
        {"IPv6: two /64s are two clients", neighbours, nullptr, 16, {16, 0, 0, 4}, ""},
        {"IPv6 link-local: answered on its interface",
         From(linkLocal, Request(4, 3)),
         nullptr,
         1,
         {1, 0, 0, 0},
         ""},
        {"NtpRateInterval as REG_SZ \"100\" is ignored",
         paced,
         [](sim::SimRegistry& r, const std::string& k) {
             r.SetString(k, "NtpRateInterval", REG_SZ, "100");  // 4 bytes with its end
         },
         9,
         {9, 0, 0, 1},
         "NtpRateInterval|is not a REG_DWORD"},
        {"NtpRateInterval as REG_DWORD 100",
         paced,
         [](sim::SimRegistry& r, const std::string& k) { r.SetDword(k, "NtpRateInterval", 100); },
         8,
         {8, 0, 0, 2},
         ""},
        {"NtpAllow beyond the table's 64 entries",
         From(V4(192, 168, 0, 1), Request(4, 3)),
         [&fullList](sim::SimRegistry& r, const std::string& k) {
             r.SetString(k, "NtpAllow", REG_MULTI_SZ, fullList);
         },
         0,
         {0, 0, 1, 0},
         "192.168.0.0/16|is beyond the 64 entries the list holds"},
    };
    for (const Case& c : cases) {
        const ServerRun run = RunServer(c.arrivals, c.values);
        EXPECT_EQ(run.replies.size(), c.answered) << c.what;
        EXPECT_EQ(run.counts.answered, c.counts.answered) << c.what;
        EXPECT_EQ(run.counts.malformed, c.counts.malformed) << c.what;
        EXPECT_EQ(run.counts.refused, c.counts.refused) << c.what;
        EXPECT_EQ(run.counts.limited, c.counts.limited) << c.what;
        // Every reply goes back to the request's sender, scope id included.
        for (const sim::SimDatagram& reply : run.replies) {
            const platform::SocketAddress& to = reply.peer;
            bool known = false;
            for (const Arrival& a : c.arrivals) {
                known |= a.from.family == to.family && a.from.scopeId == to.scopeId &&
                         std::memcmp(a.from.address, to.address, 16) == 0;
            }
            EXPECT_TRUE(known) << c.what;
        }
        const std::string ignored =
            run.settings.rejectedCount == 0
                ? ""
                : std::string(run.settings.rejected[0].name) + "|" + run.settings.rejected[0].why;
        EXPECT_EQ(ignored, c.ignored) << c.what;
    }
}

CardReading Status(int32_t reference) {
    CardReading r;
    r.kind = CardReading::kStatus;
    r.reference = reference;
    return r;
}

// A time reading taken while the card's reference was `reference` (1 GPS, 2 on-board clock).
CardReading Time(int64_t counter, int64_t cardTime, int32_t reference = 1) {
    CardReading r;
    r.kind = CardReading::kTime;
    r.counter = counter;
    r.cardTime = cardTime;
    r.reference = reference;
    return r;
}

// `n` readings 10 s apart on a 10 MHz counter, the first at `counter` and card time `time`.
std::vector<CardReading> Readings(int64_t counter, int64_t time, int n, int32_t reference = 1) {
    std::vector<CardReading> r;
    for (int i = 0; i < n; ++i)
        r.push_back(Time(counter + i * 10 * kSecond, time + i * 10 * kSecond, reference));
    return r;
}

// GPS status and kConfirmReadings readings, the newest at counter c0 and card time `t`: a line
// confirmed on GPS.
constexpr int64_t kFirstCounter = 1000;
constexpr int64_t c0 = kFirstCounter + (kConfirmReadings - 1) * 10 * kSecond;
std::vector<CardReading> OnGps(int64_t t, std::vector<CardReading> then = {}) {
    std::vector<CardReading> r = {Status(1)};
    const std::vector<CardReading> line =
        Readings(kFirstCounter, t - (c0 - kFirstCounter), kConfirmReadings);
    r.insert(r.end(), line.begin(), line.end());
    r.insert(r.end(), then.begin(), then.end());
    return r;
}

TEST(ServedClockTest, FieldsFollowTheCard) {
    const int64_t t0 = kBase;
    const CardReading failed{CardReading::kTimeFailed};
    struct Case {
        const char* what;
        std::vector<CardReading> readings;
        int64_t at;   // card time of the reply
        int stratum;  // 1 synchronised (LI 0), 0 not (LI 3)
        uint32_t dispersion;
        int64_t reference;
    };
    const int64_t ms = 10000;
    const Case cases[] = {
        {"nothing read yet", {}, t0, 0, 0, 0},
        {"status but no time", {Status(1)}, t0, 0, 0, 0},
        // A new line is served only once kConfirmReadings readings on GPS agree with it.
        {"one reading on GPS", {Status(1), Time(1000, t0)}, t0, 0, 0, 0},
        {"one reading short of confirming the line",
         [&] {
             std::vector<CardReading> r = {Status(1)};
             const auto line = Readings(1000, t0, kConfirmReadings - 1);
             r.insert(r.end(), line.begin(), line.end());
             return r;
         }(),
         t0 + (kConfirmReadings - 2) * 10 * kSecond, 0, 0, 0},
        {"confirmed on GPS", OnGps(t0), t0, 1, 66, t0},
        {"GPS, 5 s after the reading", OnGps(t0), t0 + 5 * kSecond, 1, 76, t0},
        {"GPS, within the age limit", OnGps(t0), t0 + 29 * kSecond, 1, 122, t0},
        {"GPS, past the age limit", OnGps(t0), t0 + 31 * kSecond, 0, 0, 0},
        {"reference time later than now", OnGps(t0), t0 - 60 * kSecond, 0, 0, 0},
        {"a reading 1.5 ms off the line adds its residual",
         OnGps(t0, {Time(c0 + 10 * kSecond, t0 + 10 * kSecond + 15 * ms / 10)}), t0 + 10 * kSecond,
         1, 94, t0 + 10 * kSecond + 15 * ms / 10},
        {"the same latch twice", OnGps(t0, {Time(c0, t0)}), t0, 1, 66, t0},
        {"card set 10 min ahead on GPS", OnGps(t0, {Time(c0 + 10 * kSecond, t0 + 610 * kSecond)}),
         t0 + 610 * kSecond, 0, 0, 0},
        {"card set ahead, one reading short of confirming the new line",
         [&] {
             auto r = OnGps(t0);
             const auto line =
                 Readings(c0 + 10 * kSecond, t0 + 610 * kSecond, kConfirmReadings - 1);
             r.insert(r.end(), line.begin(), line.end());
             return r;
         }(),
         t0 + 610 * kSecond + (kConfirmReadings - 2) * 10 * kSecond, 0, 0, 0},
        {"card set ahead, the new line confirmed",
         [&] {
             auto r = OnGps(t0);
             const auto line = Readings(c0 + 10 * kSecond, t0 + 610 * kSecond, kConfirmReadings);
             r.insert(r.end(), line.begin(), line.end());
             return r;
         }(),
         t0 + 610 * kSecond + (kConfirmReadings - 1) * 10 * kSecond, 1, 66,
         t0 + 610 * kSecond + (kConfirmReadings - 1) * 10 * kSecond},
        {"card set back 1 h on the on-board clock forgets the GPS reading",
         OnGps(t0, {Status(2), Time(c0 + 10 * kSecond, t0 - 3590 * kSecond, 2)}),
         t0 - 3590 * kSecond, 0, 0, 0},
        {"on-board clock after GPS",
         OnGps(t0, {Status(2), Time(c0 + 1000 * kSecond, t0 + 1000 * kSecond, 2)}),
         t0 + 1000 * kSecond, 1, 1049, t0},
        {"GPS back with the on-board readings still in the line",
         OnGps(t0, {Status(2), Time(c0 + 1000 * kSecond, t0 + 1000 * kSecond, 2), Status(1),
                    Time(c0 + 1010 * kSecond, t0 + 1010 * kSecond)}),
         t0 + 1010 * kSecond, 1, 197, t0 + 1010 * kSecond},
        {"on-board clock, never GPS",
         {Status(2), Time(1000, t0, 2), Time(1000 + 10 * kSecond, t0 + 10 * kSecond, 2),
          Time(1000 + 20 * kSecond, t0 + 20 * kSecond, 2)},
         t0 + 20 * kSecond,
         0,
         0,
         0},
        {"reference none", OnGps(t0, {Status(0)}), t0, 0, 0, 0},
        {"time read failed", OnGps(t0, {failed}), t0, 0, 0, 0},
        {"read again", OnGps(t0, {failed, Time(c0 + 10 * kSecond, t0 + 10 * kSecond)}),
         t0 + 10 * kSecond, 1, 66, t0 + 10 * kSecond},
        {"dispersion just under 1 s",
         OnGps(t0, {Status(2), Time(c0 + 66000 * kSecond, t0 + 66000 * kSecond, 2)}),
         t0 + 66000 * kSecond, 1, 64947, t0},
        {"dispersion past 1 s",
         OnGps(t0, {Status(2), Time(c0 + 66667 * kSecond, t0 + 66667 * kSecond, 2)}),
         t0 + 66667 * kSecond, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ServedClock clock(10000000);
        for (const CardReading& r : c.readings) clock.Apply(r);
        const NtpServerFields f = clock.Fields(c.at);
        EXPECT_EQ(f.leap, c.stratum == 1 ? 0 : 3) << c.what;
        EXPECT_EQ(f.stratum, c.stratum) << c.what;
        EXPECT_EQ(f.rootDispersion, c.dispersion) << c.what;
        EXPECT_EQ(f.referenceId, c.stratum == 1 ? kReferenceIdGps : 0u) << c.what;
        EXPECT_EQ(f.reference, c.stratum == 1 ? FileTimeToNtp(c.reference) : 0u) << c.what;
        EXPECT_EQ(f.precision, -23) << c.what;
    }
}

TEST(CardClockFitTest, AveragesTheCardsMillisecondsAndRestartsOnAJump) {
    // A counter 37 ppm fast against the card; each reading's latch up to 1 ms late, as a
    // card counting whole milliseconds gives it, and corrected by half a millisecond.
    const int64_t frequency = 3579545;
    const double rate = 1 + 37e-6;
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> late(0, 9999);
    CardClockFit fit(frequency);
    double sumSquares = 0, worst = 0;
    int samples = 0;
    int64_t lastCounter = 0, lastTime = 0;
    for (int i = 0; i < 200; ++i) {
        const int64_t trueTime = kBase + i * 10 * kSecond;
        const auto counterAt = [&](int64_t t) {
            return static_cast<int64_t>(std::llround((t - kBase) * 1e-7 * frequency * rate));
        };
        lastCounter = counterAt(trueTime + late(random));
        lastTime = trueTime + 5000;
        fit.Add(lastCounter, lastTime);
        if (i < CardClockFit::kReadings) continue;
        // Served 4 s after the reading, between two readings.
        int64_t served = 0;
        ASSERT_TRUE(fit.TimeAt(counterAt(trueTime + 4 * kSecond), &served));
        const double error = static_cast<double>(served - (trueTime + 4 * kSecond));
        sumSquares += error * error;
        worst = std::max(worst, std::fabs(error));
        ++samples;
    }
    // Without the fit (the last reading alone) the RMS would be about 0.29 ms.
    EXPECT_LT(std::sqrt(sumSquares / samples), 1000);  // 0.1 ms
    EXPECT_LT(worst, 3000);
    // The same latch read twice (a short RampDuration) is skipped, not a new start.
    fit.Add(lastCounter, lastTime);
    EXPECT_EQ(fit.Count(), CardClockFit::kReadings);
    // The card's clock jumps 5 ms (GPS back after holdover): the fit starts again on it.
    const int64_t last = kBase + 200 * 10 * kSecond;
    fit.Add(static_cast<int64_t>(std::llround((last - kBase) * 1e-7 * frequency * rate)),
            last + 50000);
    EXPECT_EQ(fit.Count(), 1);
    // Wild counters give no answer rather than an overflow.
    int64_t t = 0;
    EXPECT_FALSE(fit.TimeAt(INT64_MIN, &t));
    EXPECT_FALSE(fit.TimeAt(INT64_MAX, &t));
}

TEST(CardReadingTest, TheLatchMustAgreeWithTheCardsMilliseconds) {
    // The request ran from counter 10 s to 10 s + 0.2 ms on a 10 MHz counter; the card's
    // second began at the latch, so the counter since the latch is the card's milliseconds.
    const int64_t f = 10000000, before = 10 * f, after = before + 2000;
    struct Case {
        const char* what;
        int millisecond;
        int64_t latch;  // 0: the driver gave none
        bool made;
        int64_t counter;
    };
    const Case cases[] = {
        {"latch 300 ms back, card at 300 ms", 300, before - 3000000, true, before - 3000000},
        {"latch a little later than the milliseconds say", 300, before - 2990000, true,
         before - 2990000},
        {"latch of the previous second", 50, before - 10500000, false, 0},
        {"latch 1 s older than the milliseconds say", 300, before - 13000000, false, 0},
        {"latch 5 ms off", 300, before - 3050000, false, 0},
        {"latch after the request", 0, after + 10, false, 0},
        {"no latch: the middle of the request", 300, 0, true, before + 1000},
    };
    for (const Case& c : cases) {
        CardTime time{};
        time.year = 2026, time.month = 12, time.day = 7, time.hour = 1, time.second = 5;
        time.millisecond = c.millisecond;
        time.latchCounterLow = static_cast<uint32_t>(c.latch & 0xFFFFFFFF);
        time.latchCounterHigh = static_cast<uint32_t>(c.latch >> 32);
        CardReading reading;
        EXPECT_EQ(MakeTimeReading(time, before, after, f, &reading), c.made) << c.what;
        if (c.made) {
            EXPECT_EQ(reading.counter, c.counter) << c.what;
        }
    }
}

TEST(ReadingHandoverTest, TheServerTakesTheLoopsReadingsAtEveryWakeUp) {
    // No request for 90 s while the loop hands a status every 0.5 s and a time reading
    // every 10 s (the last 20 s before the request): the readings must reach the fit
    // although forty statuses came after the last of them, so the first request is
    // answered synchronised.
    sim::SimClock clock;
    sim::SimDatagramSockets network;
    ReadingHandover handover;
    NtpSettings settings;
    NtpServer server(network, clock, clock, handover, settings);
    ASSERT_EQ(server.Open(), 0);
    for (int pass = 0; pass < 180; ++pass) {
        handover.Hand(Status(1));
        if (pass % 20 == 0 && pass <= 140) {
            LARGE_INTEGER counter{};
            clock.QueryPerformanceCounter(&counter);
            handover.Hand(Time(counter.QuadPart, clock.TrueTime()));
        }
        int64_t wokeAt = 0;
        EXPECT_EQ(server.ServeOne(0, &wokeAt), 0);  // nothing comes: the wait ends empty
        clock.Advance(5000000);
    }
    platform::SocketAddress from;
    from.address[0] = 10, from.port = 40000;
    network.Deliver(from, 123, Request(4, 3));
    server.ServeWaiting();
    const std::vector<sim::SimDatagram> replies = network.TakeSent();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].data[0] >> 6, 0);  // LI 0
    EXPECT_EQ(replies[0].data[1], 1);       // stratum 1
}

}  // namespace
}  // namespace qxr::ntp

namespace qxr::sync {
namespace {

using testing::kParametersKey;

platform::SocketAddress Client(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    platform::SocketAddress s;
    s.address[0] = a, s.address[1] = b, s.address[2] = c, s.address[3] = d;
    s.port = 40000;
    return s;
}

// The server in the running service, served from the loop's thread in virtual time.
struct ServedRun {
    std::vector<testing::ServiceTestMachine::LoggedEvent> events;
    std::vector<sim::SimDatagram> replies;
    std::vector<int64_t> replyTrueTimes;
    size_t corrections = 0;
    int openAfterStop = -1;
};

ServedRun RunServing(
    const std::function<void(testing::ServiceTestMachine&, sim::SimDatagramSockets&)>& setUp,
    const std::vector<platform::SocketAddress>& clients) {
    testing::ServiceTestMachine m;
    sim::SimDatagramSockets network;
    m.card.editTime = [&m](CardTime* t) {
        t->millisecond = static_cast<int32_t>(m.clock.TrueTime() / 10000 % 1000);
    };
    m.registry.SetDword(kParametersKey, "NtpServer", 1);
    setUp(m, network);
    m.AddServiceEntry();
    SyncService service(m.ports, m.card, m.console);
    service.ServeTimeWith(network, ntp::TimeServing::Mode::kCallerServes);
    ServedRun run;
    m.At(85300, [&] {  // the line confirmed by kConfirmReadings readings
        std::vector<uint8_t> request(48, 0);
        request[0] = (4 << 3) | 3;
        for (const auto& client : clients) network.Deliver(client, 123, request);
        service.ServeWaitingTimeRequests();
        run.replies = network.TakeSent();
        run.replyTrueTimes.assign(run.replies.size(), m.clock.TrueTime());
    });
    m.StopAt(100000);
    EXPECT_TRUE(service.RunDispatcher());
    run.events = m.Logged();
    run.corrections = m.card.timeCallsAt.size();
    run.openAfterStop = network.OpenCount();
    return run;
}

std::vector<std::string> Texts(const ServedRun& run, DWORD id) {
    std::vector<std::string> out;
    for (const auto& e : run.events) {
        if (e.id == id) out.push_back(e.text);
    }
    return out;
}

TEST(TimeServingTest, ServesTheCardsTimeToAllowedClientsAndClosesItsPortAtStop) {
    const ServedRun run = RunServing(
        [](testing::ServiceTestMachine& m, sim::SimDatagramSockets& network) {
            network.SetIpv6Missing(true);  // as on NT 4.0: no complaint
            m.registry.SetString(kParametersKey, "NtpAllow", REG_MULTI_SZ,
                                 std::string("10.0.0.0/8\0bogus\0", 17));
            m.registry.SetString(kParametersKey, "NtpRateBurst", REG_SZ, "100");
        },
        {Client(10, 1, 2, 3), Client(192, 168, 0, 1)});
    EXPECT_EQ(Texts(run, kMsgNtpAllowIgnored),
              (std::vector<std::string>{
                  "The registry value NtpRateBurst is not a REG_DWORD and is ignored.\r\n",
                  "The NtpAllow entry bogus is not a network and is ignored.\r\n"}));
    EXPECT_TRUE(Texts(run, kMsgNtpPortFailed).empty());
    EXPECT_EQ(Texts(run, kMsgNtpServing),
              std::vector<std::string>{"The NTP server is answering on UDP port 123.\r\n"});
    ASSERT_EQ(run.replies.size(), 1u);  // 192.168.0.1 is not in the list
    const sim::SimDatagram& reply = run.replies[0];
    EXPECT_EQ(reply.peer.address[0], 10);
    ASSERT_EQ(reply.data.size(), 48u);
    EXPECT_EQ(reply.data[0], (0 << 6) | (4 << 3) | 4);
    EXPECT_EQ(reply.data[1], 1);
    uint64_t transmit = 0;
    for (int i = 40; i < 48; ++i) transmit = (transmit << 8) | reply.data[i];
    const int64_t served = ntp::NtpToFileTime(transmit, run.replyTrueTimes[0]);
    EXPECT_LT(std::llabs(served - run.replyTrueTimes[0]), 10000);  // the card's millisecond
    EXPECT_EQ(run.openAfterStop, 0);
}

TEST(TimeServingTest, APortInUseIsReportedAndTheCorrectionsGoOn) {
    const ServedRun quiet = RunServing(
        [](testing::ServiceTestMachine& m, sim::SimDatagramSockets&) {
            m.registry.SetDword(kParametersKey, "NtpServer", 0);
        },
        {Client(10, 1, 2, 3)});
    EXPECT_TRUE(Texts(quiet, kMsgNtpServing).empty());
    EXPECT_TRUE(quiet.replies.empty());
    const ServedRun taken = RunServing(
        [](testing::ServiceTestMachine& m, sim::SimDatagramSockets& network) {
            network.TakePort(platform::kAfInet, 1123);
            m.registry.SetDword(kParametersKey, "NtpPort", 1123);
        },
        {});
    EXPECT_EQ(
        Texts(taken, kMsgNtpPortFailed),
        std::vector<std::string>{"The NTP server cannot use UDP port 1123.  Error 10048.\r\n"});
    EXPECT_TRUE(Texts(taken, kMsgNtpServing).empty());
    EXPECT_EQ(taken.corrections, quiet.corrections);
    EXPECT_GE(taken.corrections, 4u);
    // IPv6 there but its port taken: said so, and IPv4 answers.
    const ServedRun ipv6Taken = RunServing(
        [](testing::ServiceTestMachine&, sim::SimDatagramSockets& network) {
            network.TakePort(platform::kAfInet6, 123);
        },
        {Client(10, 1, 2, 3)});
    EXPECT_EQ(Texts(ipv6Taken, kMsgNtpPortFailed),
              std::vector<std::string>{
                  "The NTP server cannot use UDP port 123 (IPv6).  Error 10048.\r\n"});
    EXPECT_EQ(Texts(ipv6Taken, kMsgNtpServing).size(), 1u);
    EXPECT_EQ(ipv6Taken.replies.size(), 1u);
}

}  // namespace
}  // namespace qxr::sync
