// udp_responder: the least a Winsock NTP responder can do, so that the load benchmark
// measures Wine's own socket path beside QxrSync: one UDP socket, blocking recvfrom, a
// 48-byte reply in mode 4 carrying the request's transmit timestamp as its origin. No clock,
// no checks beyond the length. It runs in the REALTIME priority class with a normal thread
// priority, as QxrSync's server thread does, so that both meet the machine's other load
// alike. Runs until killed.
//
//   udp_responder.exe PORT [RCVBUF_BYTES] [select]
//
// "select": the other cheap loop instead, for comparison: a non-blocking socket, select, then
// recvfrom until it would block.
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A 48-byte reply to a datagram of at least 48 bytes; anything shorter (or a receive error,
// e.g. a refused earlier reply, n < 0) gets none.
void Answer(SOCKET s, const char* request, int n, const sockaddr_in& from, int from_len) {
    if (n < 48) return;
    char reply[48] = {};
    reply[0] = static_cast<char>((request[0] & 0x38) | 4);  // LI 0, its version, server
    reply[1] = 1;                                           // stratum 1
    std::memcpy(reply + 24, request + 40, 8);               // origin = its transmit time
    sendto(s, reply, sizeof reply, 0, reinterpret_cast<const sockaddr*>(&from), from_len);
}

}  // namespace

int main(int argc, char** argv) {
    const int port = argc >= 2 ? std::atoi(argv[1]) : 0;
    const int rcvbuf = argc >= 3 ? std::atoi(argv[2]) : 0;
    const bool use_select = argc >= 4 && std::strcmp(argv[3], "select") == 0;
    if (argc < 2 || argc > 4 || port < 1 || port > 65535 || rcvbuf < 0 ||
        (argc == 4 && !use_select)) {
        std::fprintf(stderr, "usage: udp_responder PORT [RCVBUF_BYTES] [select]\n");
        return 2;
    }
    SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "udp_responder: WSAStartup failed\n");
        return 1;
    }
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (s == INVALID_SOCKET ||
        bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "udp_responder: cannot bind UDP port %d (error %d)\n", port,
                     WSAGetLastError());
        return 1;
    }
    if (rcvbuf > 0) {
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&rcvbuf), sizeof rcvbuf);
    }
    std::printf("udp_responder: answering on port %d%s\n", port, use_select ? " (select)" : "");
    std::fflush(stdout);
    char request[512];
    if (use_select) {
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
    }
    for (;;) {
        if (use_select) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            if (select(0, &readable, nullptr, nullptr, nullptr) < 0) Sleep(10);
        }
        for (;;) {
            sockaddr_in from = {};
            int from_len = sizeof from;
            const int n = recvfrom(s, request, sizeof request, 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
            Answer(s, request, n, from, from_len);
            if (!use_select || (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)) break;
        }
    }
}
