// The NTP server's request path: any datagram in, a reply or nothing out. A reply is never
// longer than its request, is a server (or symmetric passive) reply of the request's version,
// and carries the request's transmit timestamp as its origin. The first bytes also hand the
// server card readings of any kind, so that every state of its clock is reached.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_datagram_sockets.h"
#include "sync_service/ntp_server/ntp_server.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;

struct Served {
    Served() : server(network, pc.clock, pc.clock, handover, Settings()) {
        QXR_FUZZ_CHECK(server.Open() == 0);
    }
    static ntp::NtpSettings Settings() {
        ntp::NtpSettings settings;
        settings.rate.intervalS = 0;  // every input is judged on its own
        return settings;
    }
    sim::SimMachine pc;
    sim::SimDatagramSockets network;
    ntp::ReadingHandover handover;
    ntp::NtpServer server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static Served* s = new Served();
    FuzzedDataProvider data(bytes, size);
    const int readings = data.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < readings; ++i) {
        ntp::CardReading r;
        r.kind = static_cast<ntp::CardReading::Kind>(data.ConsumeIntegralInRange<int>(0, 2));
        r.reference = data.ConsumeIntegral<int32_t>();
        r.counter = data.ConsumeIntegral<int64_t>();
        r.cardTime = data.ConsumeIntegral<int64_t>();
        r.uncertainty = data.ConsumeIntegralInRange<int64_t>(0, 1 << 20);
        s->handover.Hand(r);
    }
    s->pc.clock.Advance(data.ConsumeIntegralInRange<int64_t>(0, 100000000));
    const std::vector<uint8_t> request = data.ConsumeRemainingBytes<uint8_t>();
    platform::SocketAddress from;
    from.address[0] = 192;
    from.port = 123;
    QXR_FUZZ_CHECK(s->network.Deliver(from, ntp::kDefaultNtpPort, request));
    s->server.ServeWaiting();
    const std::vector<sim::SimDatagram> sent = s->network.TakeSent();
    QXR_FUZZ_CHECK(sent.size() <= 1);
    for (const sim::SimDatagram& reply : sent) {
        QXR_FUZZ_CHECK(reply.data.size() <= request.size());
        QXR_FUZZ_CHECK(reply.data.size() == ntp::kHeaderSize);
        const int mode = reply.data[0] & 7, requestMode = request[0] & 7;
        const bool version1 = (request[0] & 0x38) == 0x08;  // mode 0 was its client mode
        QXR_FUZZ_CHECK(((requestMode == 3 || (version1 && requestMode == 0)) && mode == 4) ||
                       (requestMode == 1 && mode == 2));
        QXR_FUZZ_CHECK((reply.data[0] & 0x38) == (request[0] & 0x38));
        QXR_FUZZ_CHECK(std::memcmp(reply.data.data() + 24, request.data() + 40, 8) == 0);
        QXR_FUZZ_CHECK(reply.peer.port == 123);
    }
    return 0;
}
