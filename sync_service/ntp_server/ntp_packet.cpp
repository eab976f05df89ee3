#include "sync_service/ntp_server/ntp_packet.h"

namespace qxr::ntp {

namespace {

constexpr int kModeUnspecified = 0;
constexpr int kModeSymmetricActive = 1;
constexpr int kModeSymmetricPassive = 2;
constexpr int kModeClient = 3;
constexpr int kModeServer = 4;
constexpr size_t kMinExtensionField = 16;
// After the header, a MAC is a key id and a digest; the largest (key id + SHA-1) is 24 bytes.
constexpr size_t kMaxMac = 24;
// Windows' authenticated requests: the header with a 20-byte or a 72-byte trailer.
constexpr size_t kWindowsAuthenticated = 68;
constexpr size_t kWindowsExtendedAuthenticated = 120;

constexpr int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1900-01-01.
constexpr int64_t kSeconds1601To1900 = 9435484800LL;

uint64_t Get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

void Put64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// True when everything after the header is a chain of well-formed extension fields
// (RFC 7822: each at least 16 bytes, a multiple of 4), with no MAC behind them.
bool OnlyExtensionFields(const uint8_t* data, size_t size) {
    size_t at = kHeaderSize;
    while (at < size) {
        const size_t left = size - at;
        if (left <= kMaxMac) return false;  // a MAC or a truncated field
        const size_t length = (size_t{data[at + 2]} << 8) | data[at + 3];
        if (length < kMinExtensionField || length % 4 != 0 || length > left) return false;
        at += length;
    }
    return true;
}

}  // namespace

bool ParseNtpRequest(const uint8_t* data, size_t size, NtpRequest* request) {
    if (data == nullptr || size < kHeaderSize || size % 4 != 0) return false;
    if (size == kWindowsAuthenticated || size == kWindowsExtendedAuthenticated) return false;
    const int version = (data[0] >> 3) & 7;
    int mode = data[0] & 7;
    if (version < 1 || version > 4) return false;
    // RFC 1059 had no client mode: a version-1 client sends mode 0 (ntpd and chrony answer it).
    if (version == 1 && mode == kModeUnspecified) mode = kModeClient;
    if (mode != kModeClient && mode != kModeSymmetricActive) return false;
    // Extension fields exist from version 4 on; older clients send the bare header.
    if (size > kHeaderSize && (version < 4 || !OnlyExtensionFields(data, size))) return false;
    request->version = version;
    request->mode = mode;
    request->poll = static_cast<int8_t>(data[2]);
    request->transmit = Get64(data + 40);
    return true;
}

void BuildNtpReply(const NtpRequest& request, const NtpServerFields& fields, uint64_t receive,
                   uint8_t* out) {
    const int mode = request.mode == kModeClient ? kModeServer : kModeSymmetricPassive;
    out[0] = static_cast<uint8_t>(((fields.leap & 3) << 6) | (request.version << 3) | mode);
    out[1] = static_cast<uint8_t>(fields.stratum);
    out[2] = static_cast<uint8_t>(request.poll);
    out[3] = static_cast<uint8_t>(fields.precision);
    Put32(out + 4, 0);  // root delay: the card sits in this PC
    Put32(out + 8, fields.rootDispersion);
    Put32(out + 12, fields.referenceId);
    Put64(out + 16, fields.reference);
    Put64(out + 24, request.transmit);
    Put64(out + 32, receive);
    Put64(out + 40, 0);
}

void SetTransmitTimestamp(uint64_t transmit, uint8_t* reply) {
    Put64(reply + 40, transmit);
}

uint64_t FileTimeToNtp(int64_t fileTime) {
    const int64_t seconds = fileTime / kTicksPerSecond - kSeconds1601To1900;
    const int64_t rest = fileTime % kTicksPerSecond;
    const uint64_t fraction = (static_cast<uint64_t>(rest) << 32) / kTicksPerSecond;
    return (static_cast<uint64_t>(seconds) << 32) | fraction;
}

int64_t NtpToFileTime(uint64_t ntp, int64_t near) {
    const int64_t nearSeconds = near / kTicksPerSecond - kSeconds1601To1900;
    // The era is the one that puts the timestamp closest to `near`.
    const int64_t low = static_cast<int64_t>(ntp >> 32);
    int64_t seconds = (nearSeconds & ~int64_t{0xFFFFFFFF}) + low;
    if (seconds - nearSeconds > 0x80000000LL) seconds -= 0x100000000LL;
    if (nearSeconds - seconds > 0x80000000LL) seconds += 0x100000000LL;
    const int64_t fraction =
        static_cast<int64_t>(((ntp & 0xFFFFFFFFu) * kTicksPerSecond + 0x80000000u) >> 32);
    return (seconds + kSeconds1601To1900) * kTicksPerSecond + fraction;
}

uint32_t NtpShortFromTicks(int64_t ticks100ns) {
    if (ticks100ns <= 0) return 0;
    if (ticks100ns >= 65535 * kTicksPerSecond) return 0xFFFFFFFFu;
    // Rounded up: a dispersion is a bound.
    return static_cast<uint32_t>(((static_cast<uint64_t>(ticks100ns) << 16) + kTicksPerSecond - 1) /
                                 kTicksPerSecond);
}

int8_t PrecisionOf(int64_t frequency) {
    // The smallest p with 2^p seconds at least one count.
    int8_t p = 0;
    while (frequency > 1 && p > -32) {
        frequency >>= 1;
        --p;
    }
    return p;
}

}  // namespace qxr::ntp
