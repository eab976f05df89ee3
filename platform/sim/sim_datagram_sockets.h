// Simulated UDP sockets: the server's side behaves as Winsock's (non-blocking sockets or ones
// with a receive time-out, bind to a port, recvfrom, sendto), and the network's side lets a test or
// the simulation deliver a client's datagram to a bound port and collect what was sent back. A port
// can be taken by "another program", IPv6 can be missing, as on NT 4.0, recvfrom can fail (a
// network gone down), and a datagram longer than the receive buffer is refused without its sender,
// as Winsock does. Safe to use from several threads: a blocking recvfrom waits (in real time) for a
// delivery.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/ports/datagram_sockets.h"

namespace qxr::sim {

struct SimDatagram {
    platform::SocketAddress peer;  // the sender of a delivery, the receiver of a reply
    WORD localPort = 0;            // the port of the socket it went through
    std::vector<uint8_t> data;
};

class SimDatagramSockets : public platform::DatagramSockets {
  public:
    platform::SOCKET socket(int family, DWORD receiveTimeoutMs) override;
    int bind(platform::SOCKET s, WORD port) override;
    int recvfrom(platform::SOCKET s, char* buffer, int size,
                 platform::SocketAddress* from) override;
    int sendto(platform::SOCKET s, const char* data, int size,
               const platform::SocketAddress& to) override;
    int closesocket(platform::SOCKET s) override;
    int WSAGetLastError() override;

    // The network's side. Delivers a datagram from `from` to the socket bound to `port` of
    // `from`'s family; false when none is.
    bool Deliver(const platform::SocketAddress& from, WORD port, std::vector<uint8_t> data);
    // Everything sent since the last call, in order.
    std::vector<SimDatagram> TakeSent();
    // Another program holds the port: binding it fails with WSAEADDRINUSE.
    void TakePort(int family, WORD port);
    // socket(AF_INET6) fails with WSAEAFNOSUPPORT.
    void SetIpv6Missing(bool missing) { ipv6Missing_ = missing; }
    // From now on recvfrom fails with `error`; 0 ends the failure.
    void FailReceive(int error);
    // While held, recvfrom waits (a thread caught inside a socket call) until released.
    void Hold(bool held);
    int ReceiveCalls() const;
    int SocketsMade() const;
    int OpenCount() const;
    bool IsBound(int family, WORD port) const;

  private:
    struct Socket {
        int family;
        WORD port = 0;  // 0 until bound
        std::deque<SimDatagram> queue;
        DWORD receiveTimeoutMs = 0;
    };
    void WaitWhileHeld(std::unique_lock<std::mutex>& lock);
    void Fail(int error);
    Socket* Find(platform::SOCKET s);

    mutable std::mutex mutex_;
    std::condition_variable delivered_;
    std::map<platform::SOCKET, Socket> sockets_;
    std::set<std::pair<int, WORD>> taken_;
    std::vector<SimDatagram> sent_;
    platform::SOCKET next_ = 0x100;
    bool ipv6Missing_ = false;
    int receiveError_ = 0;
    bool held_ = false;
    int receiveCalls_ = 0;
    int socketsMade_ = 0;
    static thread_local int lastError_;
};

}  // namespace qxr::sim
