#include "sync_service/ntp_server/ntp_server.h"

#include "platform/system_time.h"

namespace qxr::ntp {

namespace {

// Large enough for any datagram a client may send: a longer one is cut and then refused
// for its length, as the packet rules would refuse it anyway.
constexpr int kReceiveSize = 1024;
// Datagrams ServeWaiting takes from a socket per call.
constexpr int kBatch = 256;

// Windows reports an earlier reply's "port unreachable" as a failed receive (WSAECONNRESET):
// that is the client's doing, not the socket's.
bool IsClientsDoing(int error) {
    return error == platform::kWsaEConnReset || error == platform::kWsaENetReset;
}

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

int NtpServer::OpenSocket(int family, platform::SOCKET* opened) {
    const platform::SOCKET s = sockets_.socket(family, receiveTimeoutMs_);
    if (s != platform::kInvalidSocket && sockets_.bind(s, port_) == 0) {
        *opened = s;
        return 0;
    }
    const int error = sockets_.WSAGetLastError();
    if (s != platform::kInvalidSocket) sockets_.closesocket(s);
    *opened = platform::kInvalidSocket;
    return error != 0 ? error : platform::kWsaEAccess;
}

int NtpServer::Open(DWORD receiveTimeoutMs) {
    Close();
    receiveTimeoutMs_ = receiveTimeoutMs;
    ipv6Error_ = 0;
    const int families[2] = {platform::kAfInet, platform::kAfInet6};
    for (int family : families) {
        platform::SOCKET s = platform::kInvalidSocket;
        const int error = OpenSocket(family, &s);
        if (error != 0) {
            if (family == platform::kAfInet) return error;
            // IPv4 alone; said so unless the system has no IPv6 at all (NT 4.0).
            if (error != platform::kWsaEAfNoSupport) ipv6Error_ = error;
            continue;
        }
        families_[socketCount_] = family;
        sockets_open_[socketCount_++] = s;
    }
    return 0;
}

int NtpServer::Reopen(int index) {
    if (index < 0 || index >= socketCount_) return platform::kWsaENotSock;
    if (sockets_open_[index] != platform::kInvalidSocket) {
        sockets_.closesocket(sockets_open_[index]);
    }
    return OpenSocket(families_[index], &sockets_open_[index]);
}

void NtpServer::Close() {
    for (int i = 0; i < socketCount_; ++i) {
        if (sockets_open_[i] != platform::kInvalidSocket) sockets_.closesocket(sockets_open_[i]);
        sockets_open_[i] = platform::kInvalidSocket;
    }
    socketCount_ = 0;
}

int NtpServer::ServeOne(int index, int64_t* wokeAt) {
    const platform::SOCKET s =
        index >= 0 && index < socketCount_ ? sockets_open_[index] : platform::kInvalidSocket;
    uint8_t request[kReceiveSize];
    platform::SocketAddress from;
    const int size =
        s == platform::kInvalidSocket
            ? platform::kSocketError
            : sockets_.recvfrom(s, reinterpret_cast<char*>(request), sizeof request, &from);
    const int error = s == platform::kInvalidSocket ? platform::kWsaENotSock
                      : size < 0                    ? sockets_.WSAGetLastError()
                                                    : 0;
    const int64_t received = Counter();
    *wokeAt = received;
    TakeReadings();
    if (size >= 0) {
        Answer(s, request, size, from, received);
        return 0;
    }
    if (error == platform::kWsaEMsgSize) {
        // Longer than any request we answer, and without its sender: dropped.
        sync::LockGuard guard(lock_);
        ++counts_.malformed;
        return 0;
    }
    if (error == platform::kWsaETimedOut || error == platform::kWsaEWouldBlock ||
        IsClientsDoing(error)) {
        return 0;
    }
    return error != 0 ? error : platform::kWsaENotSock;
}

void NtpServer::ServeWaiting() {
    TakeReadings();
    uint8_t request[kReceiveSize];
    for (int i = 0; i < socketCount_; ++i) {
        const platform::SOCKET s = sockets_open_[i];
        if (s == platform::kInvalidSocket) continue;
        for (int taken = 0; taken < kBatch; ++taken) {
            platform::SocketAddress from;
            const int size =
                sockets_.recvfrom(s, reinterpret_cast<char*>(request), sizeof request, &from);
            if (size >= 0) {
                Answer(s, request, size, from, Counter());
                continue;
            }
            const int error = sockets_.WSAGetLastError();
            if (error == platform::kWsaEMsgSize) {
                sync::LockGuard guard(lock_);
                ++counts_.malformed;
            } else if (!IsClientsDoing(error)) {
                break;  // none left, or the socket fails: the next call tries again
            }
        }
    }
}

bool NtpServer::TryCopyCounts(NtpServerCounts* out) {
    if (!lock_.TryLock()) return false;
    *out = counts_;
    lock_.Unlock();
    return true;
}

void NtpServer::TakeReadings() {
    sync::LockGuard guard(lock_);
    TakeReadingsLocked();
}

void NtpServer::TakeReadingsLocked() {
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

void NtpServer::Answer(platform::SOCKET s, const uint8_t* request, int size,
                       const platform::SocketAddress& from, int64_t received) {
    uint8_t reply[kHeaderSize];
    NtpServerFields fields;
    {
        sync::LockGuard guard(lock_);
        if (!allow_.Allows(from)) {
            ++counts_.refused;
            return;
        }
        NtpRequest parsed;
        if (!ParseNtpRequest(request, static_cast<size_t>(size), &parsed)) {
            ++counts_.malformed;
            return;
        }
        const uint64_t ms = frequency_ > 0 ? static_cast<uint64_t>(received / frequency_) * 1000 +
                                                 static_cast<uint64_t>(received % frequency_) *
                                                     1000 / static_cast<uint64_t>(frequency_)
                                           : 0;
        if (!limiter_.Admit(from, ms)) {
            ++counts_.limited;
            return;
        }
        // The newest of the loop's readings for the answer (a batch may follow a wake-up).
        TakeReadingsLocked();
        const int64_t receiveTime = TimeAt(received);
        fields = served_.Fields(receiveTime);
        BuildNtpReply(parsed, fields, FileTimeToNtp(receiveTime), reply);
        SetTransmitTimestamp(FileTimeToNtp(TimeAt(Counter())), reply);
    }
    if (sockets_.sendto(s, reinterpret_cast<const char*>(reply), sizeof reply, from) ==
        static_cast<int>(sizeof reply)) {
        sync::LockGuard guard(lock_);
        ++counts_.answered;
        summary_.synchronised.store(fields.leap != 3 ? 1u : 0u, std::memory_order_relaxed);
        summary_.rootDispersionUs.store(
            static_cast<uint32_t>(uint64_t{fields.rootDispersion} * 1000000u / 65536u),
            std::memory_order_relaxed);
    }
}

}  // namespace qxr::ntp
