#include "simulation/ntp_clients.h"

#include "sync_service/ntp_server/ntp_packet.h"

namespace qxr::simulation {

NtpClients::NtpClients(int count, double durationS, double pollS)
    : pollS_(pollS > 0 ? pollS : kPollS), thinner_(durationS) {
    figures_.clients = count;
    figures_.pollS = pollS_;
    // Staggered, and off the loop's half-second grid.
    for (int i = 0; i < count; ++i)
        nextPollS_.push_back(1.37 + i * pollS_ / (count > 0 ? count : 1));
}

bool NtpClients::Poll(double t, sim::SimDatagramSockets& network) {
    bool sent = false;
    for (size_t i = 0; i < nextPollS_.size(); ++i) {
        if (nextPollS_[i] > t) continue;
        while (nextPollS_[i] <= t) nextPollS_[i] += pollS_;
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
        uint32_t dispersion = 0;  // NTP short format: 16.16 seconds
        for (int i = 8; i < 12; ++i) dispersion = (dispersion << 8) | reply.data[i];
        const double dispersionMs = dispersion * 1000.0 / 65536.0;
        figures_.maxDispersionMs = std::fmax(figures_.maxDispersionMs, dispersionMs);
        if (std::fabs(errorMs) > dispersionMs) ++figures_.beyondDispersion;
        thinner_.Add(t, errorMs);
    }
}

}  // namespace qxr::simulation
