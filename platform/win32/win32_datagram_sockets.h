// UDP sockets of Winsock 2 (ws2_32.dll, which NT 4.0 has). Winsock is started by the first
// socket() and cleaned up with the object.
#pragma once

#include "platform/ports/datagram_sockets.h"

namespace qxr::win32 {

class Win32DatagramSockets : public platform::DatagramSockets {
  public:
    Win32DatagramSockets() = default;
    ~Win32DatagramSockets() override;
    Win32DatagramSockets(const Win32DatagramSockets&) = delete;
    Win32DatagramSockets& operator=(const Win32DatagramSockets&) = delete;

    platform::SOCKET socket(int family, DWORD receiveTimeoutMs) override;
    int bind(platform::SOCKET s, WORD port) override;
    int recvfrom(platform::SOCKET s, char* buffer, int size,
                 platform::SocketAddress* from) override;
    int sendto(platform::SOCKET s, const char* data, int size,
               const platform::SocketAddress& to) override;
    int closesocket(platform::SOCKET s) override;
    int WSAGetLastError() override;

  private:
    struct Opened {
        platform::SOCKET socket = platform::kInvalidSocket;
        int family = platform::kAfInet;
    };
    Opened opened_[8];
    bool started_ = false;
    int startError_ = 0;
};

}  // namespace qxr::win32
