#include "platform/win32/win32_datagram_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace qxr::win32 {

namespace {

// Not in every header set, and NT 4.0 has no IPv6 anyway: where the option is unknown the
// socket is IPv6-only already.
constexpr int kIpv6V6Only = 27;
// ~SO_REUSEADDR: NT 4.0 SP4 and later; older systems refuse it, and the port is then shared
// as before.
constexpr int kExclusiveAddressUse = ~0x0004;

int ToSockaddr(const platform::SocketAddress& address, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    if (address.family == platform::kAfInet6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(address.port);
        std::memcpy(&in6->sin6_addr, address.address, 16);
        in6->sin6_scope_id = address.scopeId;
        return sizeof *in6;
    }
    auto* in = reinterpret_cast<sockaddr_in*>(out);
    in->sin_family = AF_INET;
    in->sin_port = htons(address.port);
    std::memcpy(&in->sin_addr, address.address, 4);
    return sizeof *in;
}

}  // namespace

Win32DatagramSockets::~Win32DatagramSockets() {
    if (started_) ::WSACleanup();
}

platform::SOCKET Win32DatagramSockets::socket(int family, DWORD receiveTimeoutMs) {
    if (!started_ && startError_ == 0) {
        WSADATA data;
        startError_ = ::WSAStartup(MAKEWORD(2, 0), &data);
        started_ = startError_ == 0;
    }
    if (!started_) {
        ::WSASetLastError(startError_);
        return platform::kInvalidSocket;
    }
    const int af = family == platform::kAfInet6 ? AF_INET6 : AF_INET;
    const ::SOCKET s = ::socket(af, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return platform::kInvalidSocket;
    u_long nonBlocking = receiveTimeoutMs == 0 ? 1 : 0;
    const DWORD timeout = receiveTimeoutMs;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        (timeout != 0 &&
         ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                      sizeof timeout) != 0)) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(error);
        return platform::kInvalidSocket;
    }
    // Both only ask: a system without them (or a smaller buffer) serves as before.
    const int exclusive = 1, buffer = platform::kReceiveBuffer;
    ::setsockopt(s, SOL_SOCKET, kExclusiveAddressUse, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    if (af == AF_INET6) {
        DWORD only = 1;
        ::setsockopt(s, IPPROTO_IPV6, kIpv6V6Only, reinterpret_cast<const char*>(&only),
                     sizeof only);
    }
    // Remembered for bind, which binds to the family's any-address.
    for (Opened& opened : opened_) {
        if (opened.socket == platform::kInvalidSocket) {
            opened = Opened{static_cast<platform::SOCKET>(s), family};
            break;
        }
    }
    return static_cast<platform::SOCKET>(s);
}

int Win32DatagramSockets::bind(platform::SOCKET s, WORD port) {
    platform::SocketAddress address;
    address.family = platform::kAfInet;
    for (const Opened& opened : opened_) {
        if (opened.socket == s) address.family = opened.family;
    }
    address.port = port;
    sockaddr_storage any;
    const int size = ToSockaddr(address, &any);
    return ::bind(static_cast<::SOCKET>(s), reinterpret_cast<const sockaddr*>(&any), size) == 0
               ? 0
               : platform::kSocketError;
}

int Win32DatagramSockets::recvfrom(platform::SOCKET s, char* buffer, int size,
                                   platform::SocketAddress* from) {
    sockaddr_storage address{};
    int length = sizeof address;
    const int got = ::recvfrom(static_cast<::SOCKET>(s), buffer, size, 0,
                               reinterpret_cast<sockaddr*>(&address), &length);
    // A datagram longer than the buffer fails with WSAEMSGSIZE and without its sender's
    // address: the caller drops it.
    if (got == SOCKET_ERROR) return platform::kSocketError;
    *from = platform::SocketAddress{};
    if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        from->family = platform::kAfInet6;
        std::memcpy(from->address, &in6->sin6_addr, 16);
        from->port = ntohs(in6->sin6_port);
        from->scopeId = in6->sin6_scope_id;
    } else {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        from->family = platform::kAfInet;
        std::memcpy(from->address, &in->sin_addr, 4);
        from->port = ntohs(in->sin_port);
    }
    return got;
}

int Win32DatagramSockets::sendto(platform::SOCKET s, const char* data, int size,
                                 const platform::SocketAddress& to) {
    sockaddr_storage address;
    const int length = ToSockaddr(to, &address);
    const int sent = ::sendto(static_cast<::SOCKET>(s), data, size, 0,
                              reinterpret_cast<const sockaddr*>(&address), length);
    return sent == SOCKET_ERROR ? platform::kSocketError : sent;
}

int Win32DatagramSockets::closesocket(platform::SOCKET s) {
    for (Opened& opened : opened_) {
        if (opened.socket == s) opened = Opened{};
    }
    return ::closesocket(static_cast<::SOCKET>(s)) == 0 ? 0 : platform::kSocketError;
}

int Win32DatagramSockets::WSAGetLastError() {
    return ::WSAGetLastError();
}

}  // namespace qxr::win32
