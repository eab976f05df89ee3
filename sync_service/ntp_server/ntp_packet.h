// NTP packets as the server takes and gives them (RFC 5905, RFC 4330): which requests are
// answered and the 48-byte reply. Only client (mode 3; mode 0 of version 1) and symmetric
// active (mode 1) requests of versions 1 to 4 are answered; control, private and broadcast modes
// never are, and a request that carries anything but well-formed extension fields after its header
// (a MAC of a key this server does not have, the authenticated Windows forms) is dropped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxr::ntp {

inline constexpr size_t kHeaderSize = 48;

struct NtpRequest {
    int version = 0;
    int mode = 0;
    int8_t poll = 0;
    uint64_t transmit = 0;  // the client's transmit timestamp, echoed as our origin
};

// What the server says about itself in every reply.
struct NtpServerFields {
    int leap = 3;  // 0 synchronised, 3 not
    int stratum = 0;
    int8_t precision = 0;
    uint32_t referenceId = 0;
    uint32_t rootDispersion = 0;  // NTP short format (16.16 seconds)
    uint64_t reference = 0;       // NTP timestamp of the last reading of the reference
};

// False when the request is not to be answered.
bool ParseNtpRequest(const uint8_t* data, size_t size, NtpRequest* request);

// Writes the reply (kHeaderSize bytes) to `out`; the transmit timestamp is written separately,
// as late as possible, by SetTransmitTimestamp.
void BuildNtpReply(const NtpRequest& request, const NtpServerFields& fields, uint64_t receive,
                   uint8_t* out);
void SetTransmitTimestamp(uint64_t transmit, uint8_t* reply);

// FILETIME counts (100 ns since 1601) and NTP timestamps (32.32 seconds since 1900, era 0
// wrapping into era 1 as RFC 5905 intends).
uint64_t FileTimeToNtp(int64_t fileTime);
int64_t NtpToFileTime(uint64_t ntp, int64_t near);

// Seconds as NTP short format, saturating.
uint32_t NtpShortFromTicks(int64_t ticks100ns);

// log2 of the timestamps' resolution for a counter of `frequency` counts per second.
int8_t PrecisionOf(int64_t frequency);

}  // namespace qxr::ntp
