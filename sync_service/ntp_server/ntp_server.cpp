#include "sync_service/ntp_server/ntp_server.h"

#include "platform/system_time.h"

namespace qxr::ntp {

namespace {

// Large enough for any datagram a client may send: a longer one is cut and then refused
// for its length, as the packet rules would refuse it anyway.
constexpr int kReceiveSize = 1024;
// Datagrams taken per call before the caller gets to look at its stop flag again.
constexpr int kBatch = 256;

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
    const int families[2] = {platform::kAfInet, platform::kAfInet6};
    for (int family : families) {
        const platform::SOCKET s = sockets_.socket(family);
        if (s == platform::kInvalidSocket || sockets_.bind(s, port_) != 0) {
            const int error = sockets_.WSAGetLastError();
            if (s != platform::kInvalidSocket) sockets_.closesocket(s);
            if (family == platform::kAfInet) return error != 0 ? error : platform::kWsaEAccess;
            continue;  // no IPv6 here, or its port is taken: IPv4 alone
        }
        sockets_open_[socketCount_++] = s;
    }
    return 0;
}

void NtpServer::Close() {
    for (int i = 0; i < socketCount_; ++i) sockets_.closesocket(sockets_open_[i]);
    socketCount_ = 0;
}

void NtpServer::Serve(DWORD timeoutMs) {
    bool readable[2] = {false, false};
    if (socketCount_ == 0 ||
        sockets_.select(sockets_open_, socketCount_, timeoutMs, readable) <= 0) {
        return;
    }
    for (int i = 0; i < socketCount_; ++i) {
        if (readable[i]) ServeSocket(sockets_open_[i]);
    }
}

void NtpServer::ServeWaiting() {
    for (int i = 0; i < socketCount_; ++i) ServeSocket(sockets_open_[i]);
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

void NtpServer::ServeSocket(platform::SOCKET s) {
    uint8_t request[kReceiveSize];
    uint8_t reply[kHeaderSize];
    for (int taken = 0; taken < kBatch; ++taken) {
        platform::SocketAddress from;
        const int size =
            sockets_.recvfrom(s, reinterpret_cast<char*>(request), sizeof request, &from);
        // Windows reports an earlier reply's "port unreachable" as a failed receive: that
        // ends nothing. Only an empty queue does.
        if (size < 0) {
            if (sockets_.WSAGetLastError() == platform::kWsaEWouldBlock) return;
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
        // Only a request that is answered takes the loop's readings and the card's state.
        handover_.Take([this](const CardReading& reading) { served_.Apply(reading); });
        const int64_t receiveTime = TimeAt(received);
        const NtpServerFields fields = served_.Fields(receiveTime);
        BuildNtpReply(parsed, fields, FileTimeToNtp(receiveTime), reply);
        SetTransmitTimestamp(FileTimeToNtp(TimeAt(Counter())), reply);
        if (sockets_.sendto(s, reinterpret_cast<const char*>(reply), sizeof reply, from) ==
            static_cast<int>(sizeof reply)) {
            ++counts_.answered;
            summary_.synchronised.store(fields.leap != 3 ? 1u : 0u, std::memory_order_relaxed);
            summary_.rootDispersionUs.store(
                static_cast<uint32_t>(uint64_t{fields.rootDispersion} * 1000000u / 65536u),
                std::memory_order_relaxed);
        }
    }
}

}  // namespace qxr::ntp
