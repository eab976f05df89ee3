#include "sync_service/ntp_server/ntp_allow_list.h"

#include <cstring>

namespace qxr::ntp {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A decimal number of at most `maxDigits` digits, at most `max`.
bool ParseDecimal(const char* text, size_t length, int max, int* value) {
    if (length == 0 || length > 3) return false;
    int v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
    }
    if (v > max) return false;
    *value = v;
    return true;
}

bool PrefixMatches(const uint8_t* a, const uint8_t* b, int prefix) {
    const int whole = prefix / 8, bits = prefix % 8;
    if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0) return false;
    if (bits == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> bits);
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool ParseIpv4(const char* text, size_t length, uint8_t out[4]) {
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = at;
        while (end < length && text[end] != '.') ++end;
        int value = 0;
        if (!ParseDecimal(text + at, end - at, 255, &value)) return false;
        out[part] = static_cast<uint8_t>(value);
        if (part < 3 && end == length) return false;
        at = end + 1;
    }
    return at == length + 1;
}

bool ParseIpv6(const char* text, size_t length, uint8_t out[16]) {
    uint16_t groups[8] = {};
    int count = 0, gap = -1;
    size_t at = 0;
    if (length >= 2 && text[0] == ':' && text[1] == ':') {
        gap = 0;
        at = 2;
    } else if (length == 0 || text[0] == ':') {
        return false;
    }
    while (at < length) {
        size_t end = at;
        int value = 0;
        while (end < length && text[end] != ':') {
            const int h = HexValue(text[end]);
            if (h < 0 || end - at >= 4) return false;
            value = value * 16 + h;
            ++end;
        }
        if (end == at || count == 8) return false;
        groups[count++] = static_cast<uint16_t>(value);
        if (end == length) break;
        at = end + 1;
        if (at < length && text[at] == ':') {
            if (gap >= 0) return false;  // a second "::"
            gap = count;
            ++at;
        } else if (at == length) {
            return false;  // a trailing single ':'
        }
    }
    if (gap < 0 && count != 8) return false;
    if (gap >= 0 && count == 8) return false;
    uint16_t full[8] = {};
    const int tail = gap < 0 ? 0 : count - gap;
    for (int i = 0; i < count - tail; ++i) full[i] = groups[i];
    for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[count - tail + i];
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<uint8_t>(full[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(full[i]);
    }
    return true;
}

bool NtpAllowList::Add(const char* entry) {
    if (entry == nullptr || count_ == kMaxNetworks) return false;
    const size_t length = std::strlen(entry);
    const char* slash = static_cast<const char*>(std::memchr(entry, '/', length));
    const size_t addressLength = slash != nullptr ? static_cast<size_t>(slash - entry) : length;
    Network network{};
    int maxPrefix = 32;
    if (ParseIpv4(entry, addressLength, network.bytes)) {
        network.family = platform::kAfInet;
    } else if (ParseIpv6(entry, addressLength, network.bytes)) {
        network.family = platform::kAfInet6;
        maxPrefix = 128;
    } else {
        return false;
    }
    network.prefix = maxPrefix;
    if (slash != nullptr &&
        !ParseDecimal(slash + 1, length - addressLength - 1, maxPrefix, &network.prefix)) {
        return false;
    }
    networks_[count_++] = network;
    return true;
}

bool NtpAllowList::Allows(const platform::SocketAddress& address) const {
    if (!restricted_) return true;
    for (int i = 0; i < count_; ++i) {
        const Network& n = networks_[i];
        if (n.family == address.family && PrefixMatches(n.bytes, address.address, n.prefix)) {
            return true;
        }
    }
    return false;
}

}  // namespace qxr::ntp
