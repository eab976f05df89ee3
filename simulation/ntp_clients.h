// Simulated NTP clients of the service's NTP server in a qxrsim run: each polls every 16 s
// (or the poll interval given; staggered) from an address of its own, and every synchronised
// reply's transmit timestamp is compared with true UTC at the instant it was sent - the error
// a perfect client on the LAN would inherit from the server - and with the root dispersion
// the same reply advertised, which must cover it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/sim/sim_datagram_sockets.h"
#include "simulation/offset_plot.h"

namespace qxr::simulation {

// Largest magnitude and RMS of a series of errors in ms.
struct ErrorStats {
    double maxAbsMs = 0;
    double sumSquares = 0;
    int64_t count = 0;
    void Add(double ms) {
        maxAbsMs = std::fmax(maxAbsMs, std::fabs(ms));
        sumSquares += ms * ms;
        ++count;
    }
    double RmsMs() const { return count > 0 ? std::sqrt(sumSquares / count) : 0; }
};

struct NtpClientFigures {
    int clients = 0;
    int64_t requests = 0;
    int64_t answered = 0;
    int64_t synchronised = 0;  // answered with LI 0 and stratum 1
    ErrorStats served;         // served time minus true UTC, synchronised replies only
    double pollS = 0;
    int64_t beyondDispersion = 0;  // synchronised replies with |error| > their root dispersion
    double maxDispersionMs = 0;    // the largest root dispersion of a synchronised reply
};

class NtpClients {
  public:
    static constexpr double kPollS = 16;
    static constexpr WORD kServerPort = 123;

    NtpClients(int count, double durationS, double pollS = kPollS);
    // Sends the requests due by virtual time `t`; true when any was sent.
    bool Poll(double t, sim::SimDatagramSockets& network);
    // Takes the server's replies, sent at true time `trueTime` (virtual time `t`).
    void TakeReplies(sim::SimDatagramSockets& network, int64_t trueTime, double t);
    const NtpClientFigures& Figures() const { return figures_; }
    std::vector<PlotPoint> TakePlot() { return thinner_.Take(); }

  private:
    double pollS_;
    std::vector<double> nextPollS_;
    NtpClientFigures figures_;
    PlotThinner thinner_;
};

}  // namespace qxr::simulation
