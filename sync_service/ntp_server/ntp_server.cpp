#include "sync_service/ntp_server/ntp_server.h"

#include "platform/system_time.h"

namespace qxr::ntp {

namespace {

// Large enough for any datagram a client may send: a longer one is cut and then refused
// for its length, as the packet rules would refuse it anyway.
constexpr int kReceiveSize = 1024;
// Datagrams taken per call before the caller gets to look at its stop flag again.
constexpr int kBatch = 256;
constexpr int kSocketErrorNothingOpen = -2;

int64_t FrequencyOf(platform::PerformanceCounter& counter) {
    LARGE_INTEGER frequency{};
    return counter.QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
               ? frequency.QuadPart
               : 0;
}

}  // namespace

NtpServer::NtpServer(platform::DatagramSockets& sockets, platform::PerformanceCounter& counter,
                     platform::SystemClock& clock, ReadingHandover& handover,
                     const NtpSettings& settings)
    : sockets_(sockets),
      counter_(counter),
      clock_(clock),
      handover_(handover),
      allow_(settings.allow),
      limiter_(settings.rate),
      port_(settings.port),
      frequency_(FrequencyOf(counter)),
      served_(frequency_) {}

NtpServer::~NtpServer() {
    Close();
}

int NtpServer::Open() {
    Close();
    ipv6Error_ = 0;
    const int families[2] = {platform::kAfInet, platform::kAfInet6};
    for (int family : families) {
        const platform::SOCKET s = sockets_.socket(family, 0);
        if (s == platform::kInvalidSocket || sockets_.bind(s, port_) != 0) {
            int error = sockets_.WSAGetLastError();
            if (error == 0) error = platform::kWsaEAccess;
            if (s != platform::kInvalidSocket) sockets_.closesocket(s);
            if (family == platform::kAfInet) return error;
            // IPv4 alone; said so unless the system has no IPv6 at all (NT 4.0).
            if (error != platform::kWsaEAfNoSupport) ipv6Error_ = error;
            continue;
        }
        sockets_open_[socketCount_++] = s;
    }
    return 0;
}

void NtpServer::Close() {
    for (int i = 0; i < socketCount_; ++i) sockets_.closesocket(sockets_open_[i]);
    socketCount_ = 0;
}

int NtpServer::Serve(DWORD timeoutMs) {
    bool readable[2] = {false, false};
    const int ready = socketCount_ == 0
                          ? kSocketErrorNothingOpen
                          : sockets_.select(sockets_open_, socketCount_, timeoutMs, readable);
    const int error = ready == kSocketErrorNothingOpen ? platform::kWsaENotSock
                      : ready < 0                      ? sockets_.WSAGetLastError()
                                                       : 0;
    wokeAt_ = Counter();
    TakeReadings();
    if (ready < 0) return error != 0 ? error : platform::kWsaEAccess;
    for (int i = 0; i < socketCount_ && ready > 0; ++i) {
        if (!readable[i]) continue;
        if (const int failed = ServeSocket(sockets_open_[i]); failed != 0) return failed;
    }
    return 0;
}

void NtpServer::ServeWaiting() {
    TakeReadings();
    for (int i = 0; i < socketCount_; ++i) ServeSocket(sockets_open_[i]);
}

void NtpServer::TakeReadings() {
    handover_.Take([this](const CardReading& reading) { served_.Apply(reading); });
}

int64_t NtpServer::Counter() {
    LARGE_INTEGER now{};
    counter_.QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t NtpServer::TimeAt(int64_t counter) {
    int64_t time = 0;
    if (served_.TimeAt(counter, &time)) return time;
    FILETIME now{};
    clock_.GetSystemTimeAsFileTime(&now);
    return FileTimeToInt64(now);
}

int NtpServer::ServeSocket(platform::SOCKET s) {
    uint8_t request[kReceiveSize];
    uint8_t reply[kHeaderSize];
    int failures = 0;
    for (int taken = 0; taken < kBatch; ++taken) {
        platform::SocketAddress from;
        const int size =
            sockets_.recvfrom(s, reinterpret_cast<char*>(request), sizeof request, &from);
        if (size < 0) {
            const int error = sockets_.WSAGetLastError();
            if (error == platform::kWsaEWouldBlock) return 0;
            // Longer than any request we answer, and without its sender: dropped.
            if (error == platform::kWsaEMsgSize) {
                ++counts_.malformed;
                continue;
            }
            // Windows reports an earlier reply's "port unreachable" (or a reset) as a failed
            // receive, which ends nothing; a whole batch of failures is the socket's own.
            if (++failures == kBatch / 2) return error;
            continue;
        }
        const int64_t received = Counter();
        if (!allow_.Allows(from)) {
            ++counts_.refused;
            continue;
        }
        NtpRequest parsed;
        if (!ParseNtpRequest(request, static_cast<size_t>(size), &parsed)) {
            ++counts_.malformed;
            continue;
        }
        const uint64_t ms = frequency_ > 0 ? static_cast<uint64_t>(received / frequency_) * 1000 +
                                                 static_cast<uint64_t>(received % frequency_) *
                                                     1000 / static_cast<uint64_t>(frequency_)
                                           : 0;
        if (!limiter_.Admit(from, ms)) {
            ++counts_.limited;
            continue;
        }
        const int64_t receiveTime = TimeAt(received);
        BuildNtpReply(parsed, served_.Fields(receiveTime), FileTimeToNtp(receiveTime), reply);
        SetTransmitTimestamp(FileTimeToNtp(TimeAt(Counter())), reply);
        if (sockets_.sendto(s, reinterpret_cast<const char*>(reply), sizeof reply, from) ==
            static_cast<int>(sizeof reply)) {
            ++counts_.answered;
        }
    }
    return 0;
}

}  // namespace qxr::ntp
