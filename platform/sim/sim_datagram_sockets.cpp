#include "platform/sim/sim_datagram_sockets.h"

#include <chrono>
#include <cstring>

namespace qxr::sim {

namespace {
constexpr int kWsaENotSock = platform::kWsaENotSock;
constexpr int kWsaEInval = 10022;
}  // namespace

thread_local int SimDatagramSockets::lastError_ = 0;

void SimDatagramSockets::Fail(int error) {
    lastError_ = error;
}

SimDatagramSockets::Socket* SimDatagramSockets::Find(platform::SOCKET s) {
    auto it = sockets_.find(s);
    return it == sockets_.end() ? nullptr : &it->second;
}

void SimDatagramSockets::WaitWhileHeld(std::unique_lock<std::mutex>& lock) {
    delivered_.wait(lock, [&] { return !held_; });
}

platform::SOCKET SimDatagramSockets::socket(int family, DWORD receiveTimeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (family != platform::kAfInet && family != platform::kAfInet6) {
        Fail(platform::kWsaEAfNoSupport);
        return platform::kInvalidSocket;
    }
    if (family == platform::kAfInet6 && ipv6Missing_) {
        Fail(platform::kWsaEAfNoSupport);
        return platform::kInvalidSocket;
    }
    const platform::SOCKET s = next_++;
    sockets_[s] = Socket{family, 0, {}, receiveTimeoutMs};
    ++socketsMade_;
    return s;
}

int SimDatagramSockets::bind(platform::SOCKET s, WORD port) {
    std::lock_guard<std::mutex> lock(mutex_);
    Socket* socket = Find(s);
    if (socket == nullptr) {
        Fail(kWsaENotSock);
        return platform::kSocketError;
    }
    if (socket->port != 0) {
        Fail(kWsaEInval);
        return platform::kSocketError;
    }
    bool inUse = taken_.count({socket->family, port}) != 0;
    for (const auto& [handle, other] : sockets_) {
        if (other.family == socket->family && other.port == port) inUse = true;
    }
    if (inUse) {
        Fail(platform::kWsaEAddrInUse);
        return platform::kSocketError;
    }
    socket->port = port;
    return 0;
}

int SimDatagramSockets::recvfrom(platform::SOCKET s, char* buffer, int size,
                                 platform::SocketAddress* from) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++receiveCalls_;
    WaitWhileHeld(lock);
    Socket* socket = Find(s);
    if (socket == nullptr) {
        Fail(kWsaENotSock);
        return platform::kSocketError;
    }
    if (receiveError_ != 0) {
        Fail(receiveError_);
        return platform::kSocketError;
    }
    if (socket->queue.empty() && socket->receiveTimeoutMs > 0) {
        // A blocking socket: waits for a delivery, the socket's closing or its time-out.
        delivered_.wait_for(lock, std::chrono::milliseconds(socket->receiveTimeoutMs), [&] {
            socket = Find(s);
            return socket == nullptr || !socket->queue.empty();
        });
        if (socket == nullptr) {
            Fail(kWsaENotSock);
            return platform::kSocketError;
        }
        if (socket->queue.empty()) {
            Fail(platform::kWsaETimedOut);
            return platform::kSocketError;
        }
    }
    if (socket->queue.empty()) {
        Fail(platform::kWsaEWouldBlock);
        return platform::kSocketError;
    }
    SimDatagram datagram = std::move(socket->queue.front());
    socket->queue.pop_front();
    const bool cut = static_cast<int>(datagram.data.size()) > size;
    const int length = cut ? size : static_cast<int>(datagram.data.size());
    if (length > 0) std::memcpy(buffer, datagram.data.data(), static_cast<size_t>(length));
    if (cut) {
        Fail(platform::kWsaEMsgSize);
        return platform::kSocketError;
    }
    *from = datagram.peer;
    return length;
}

int SimDatagramSockets::sendto(platform::SOCKET s, const char* data, int size,
                               const platform::SocketAddress& to) {
    std::lock_guard<std::mutex> lock(mutex_);
    Socket* socket = Find(s);
    if (socket == nullptr || size < 0) {
        Fail(kWsaENotSock);
        return platform::kSocketError;
    }
    sent_.push_back(SimDatagram{to, socket->port,
                                std::vector<uint8_t>(data, data + static_cast<size_t>(size))});
    return size;
}

int SimDatagramSockets::closesocket(platform::SOCKET s) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sockets_.erase(s) == 0) {
            Fail(kWsaENotSock);
            return platform::kSocketError;
        }
    }
    delivered_.notify_all();  // a blocking recvfrom on it ends
    return 0;
}

int SimDatagramSockets::WSAGetLastError() {
    return lastError_;
}

bool SimDatagramSockets::Deliver(const platform::SocketAddress& from, WORD port,
                                 std::vector<uint8_t> data) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Socket* target = nullptr;
        for (auto& [handle, socket] : sockets_) {
            if (socket.family == from.family && socket.port == port) target = &socket;
        }
        if (target == nullptr) return false;
        target->queue.push_back(SimDatagram{from, port, std::move(data)});
    }
    delivered_.notify_all();
    return true;
}

std::vector<SimDatagram> SimDatagramSockets::TakeSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SimDatagram> sent;
    sent.swap(sent_);
    return sent;
}

void SimDatagramSockets::TakePort(int family, WORD port) {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.insert({family, port});
}

void SimDatagramSockets::FailReceive(int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    receiveError_ = error;
}

void SimDatagramSockets::Hold(bool held) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = held;
    }
    delivered_.notify_all();
}

int SimDatagramSockets::ReceiveCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return receiveCalls_;
}

int SimDatagramSockets::SocketsMade() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return socketsMade_;
}

int SimDatagramSockets::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sockets_.size());
}

bool SimDatagramSockets::IsBound(int family, WORD port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [handle, socket] : sockets_) {
        if (socket.family == family && socket.port == port) return true;
    }
    return false;
}

}  // namespace qxr::sim
