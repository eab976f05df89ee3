#include "simulation/ntp_clients.h"

#include "sync_service/ntp_server/ntp_packet.h"

namespace qxr::simulation {

NtpClients::NtpClients(int count, double durationS) : thinner_(durationS) {
    figures_.clients = count;
    // Staggered, and off the loop's half-second grid.
    for (int i = 0; i < count; ++i)
        nextPollS_.push_back(1.37 + i * kPollS / (count > 0 ? count : 1));
}

bool NtpClients::Poll(double t, sim::SimDatagramSockets& network) {
    bool sent = false;
    for (size_t i = 0; i < nextPollS_.size(); ++i) {
        if (nextPollS_[i] > t) continue;
        while (nextPollS_[i] <= t) nextPollS_[i] += kPollS;
        platform::SocketAddress from;
        from.address[0] = 10;
        from.address[2] = static_cast<uint8_t>(i >> 8);
        from.address[3] = static_cast<uint8_t>(i);
        from.port = 123;
        std::vector<uint8_t> request(ntp::kHeaderSize, 0);
        request[0] = (4 << 3) | 3;
        request[47] = static_cast<uint8_t>(i);  // a transmit timestamp of its own
        network.Deliver(from, kServerPort, std::move(request));
        ++figures_.requests;
        sent = true;
    }
    return sent;
}

void NtpClients::TakeReplies(sim::SimDatagramSockets& network, int64_t trueTime, double t) {
    for (const sim::SimDatagram& reply : network.TakeSent()) {
        if (reply.data.size() < ntp::kHeaderSize) continue;
        ++figures_.answered;
        if ((reply.data[0] >> 6) == 3 || reply.data[1] != 1) continue;
        ++figures_.synchronised;
        uint64_t transmit = 0;
        for (int i = 40; i < 48; ++i) transmit = (transmit << 8) | reply.data[i];
        const double errorMs =
            static_cast<double>(ntp::NtpToFileTime(transmit, trueTime) - trueTime) / 1e4;
        figures_.served.Add(errorMs);
        thinner_.Add(t, errorMs);
    }
}

}  // namespace qxr::simulation
