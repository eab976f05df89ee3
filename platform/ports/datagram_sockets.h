// UDP sockets, as the service's NTP server uses them: Winsock's calls under their own names,
// with one plain address record for IPv4 and IPv6 so that the portable code needs no socket
// headers. Every call that fails leaves its reason in WSAGetLastError().
#pragma once

#include <cstdint>

#include "platform/ports/win_defs.h"

namespace qxr::platform {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET kInvalidSocket = ~SOCKET{0};
inline constexpr int kSocketError = -1;
inline constexpr int kAfInet = 2;    // AF_INET
inline constexpr int kAfInet6 = 23;  // AF_INET6 (Windows numbering)

// Winsock error numbers the server acts on.
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEAccess = 10013;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaENetReset = 10052;
inline constexpr int kWsaEConnReset = 10054;

struct SocketAddress {
    int family = kAfInet;
    BYTE address[16] = {};  // 4 bytes for IPv4, 16 for IPv6, network order
    WORD port = 0;          // host order
    DWORD scopeId = 0;      // IPv6: the interface of a link-local address, for the reply
};

inline constexpr int kReceiveBuffer = 256 * 1024;

class DatagramSockets {
  public:
    virtual ~DatagramSockets() = default;
    // A UDP socket of the family, or kInvalidSocket. For IPv6 it takes IPv6 only, so that
    // one IPv4 and one IPv6 socket can share a port. Where the system has them it asks for
    // the port alone (SO_EXCLUSIVEADDRUSE) and a receive buffer of kReceiveBuffer bytes.
    // `receiveTimeoutMs` 0: non-blocking (recvfrom gives kWsaEWouldBlock when nothing is
    // waiting); otherwise recvfrom waits up to that long (then kWsaETimedOut).
    virtual SOCKET socket(int family, DWORD receiveTimeoutMs) = 0;
    // Binds to the family's any-address and `port`; 0 or kSocketError.
    virtual int bind(SOCKET s, WORD port) = 0;
    // Length of the datagram taken, or kSocketError (kWsaEWouldBlock when none is waiting,
    // kWsaETimedOut when a blocking wait ended). A datagram longer than `size` is taken
    // and fails with kWsaEMsgSize, `from` then not filled in (Winsock gives no address).
    virtual int recvfrom(SOCKET s, char* buffer, int size, SocketAddress* from) = 0;
    virtual int sendto(SOCKET s, const char* data, int size, const SocketAddress& to) = 0;
    virtual int closesocket(SOCKET s) = 0;
    virtual int WSAGetLastError() = 0;
};

}  // namespace qxr::platform
