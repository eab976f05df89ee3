// The engine's 64-bit integer arithmetic: divisions that round halves away from zero, and
// additions that stop at the ends of the range instead of wrapping. Products are formed in
// 128 bits by hand so that the 32-bit Windows build gives exactly the same results.
#pragma once

#include <cstdint>
#include <limits>

namespace qxr::discipline {

namespace detail {

struct Wide {
    uint64_t high;
    uint64_t low;
};

inline Wide MultiplyWide(uint64_t a, uint64_t b) {
    const uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32;
    const uint64_t bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const uint64_t lowLow = aLow * bLow;
    const uint64_t highLow = aHigh * bLow;
    const uint64_t lowHigh = aLow * bHigh;
    const uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFFu) + (lowHigh & 0xFFFFFFFFu);
    return Wide{aHigh * bHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32),
                (middle << 32) | (lowLow & 0xFFFFFFFFu)};
}

inline Wide AddWide(Wide a, uint64_t b) {
    const uint64_t low = a.low + b;
    return Wide{a.high + (low < a.low ? 1u : 0u), low};
}

// n / d for d > 0; false when the quotient does not fit in 64 bits.
inline bool DivideWide(Wide n, uint64_t d, uint64_t* quotient) {
    if (n.high >= d) return false;
    uint64_t remainder = n.high;
    uint64_t q = 0;
    for (int bit = 63; bit >= 0; --bit) {
        const bool carry = (remainder >> 63) != 0;
        remainder = (remainder << 1) | ((n.low >> bit) & 1u);
        if (carry || remainder >= d) {
            remainder -= d;
            q |= uint64_t{1} << bit;
        }
    }
    *quotient = q;
    return true;
}

inline uint64_t Magnitude(int64_t value) {
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// Gives the magnitude its sign back, stopping at the ends of the 64-bit range.
inline int64_t Signed(uint64_t magnitude, bool negative) {
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > kMax) return std::numeric_limits<int64_t>::min();
        return -static_cast<int64_t>(magnitude);
    }
    return magnitude > kMax ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

}  // namespace detail

// p / c rounded half away from zero. The divisor must be positive; 0 is returned otherwise.
inline int64_t RoundDiv(int64_t p, int64_t c) {
    if (c <= 0) return 0;
    const uint64_t divisor = static_cast<uint64_t>(c);
    const uint64_t q = (detail::Magnitude(p) + divisor / 2) / divisor;
    return detail::Signed(q, p < 0);
}

// RoundDiv(a x b, c) with the product taken exactly; a quotient beyond the 64-bit range is
// held at the end of the range. The divisor must be positive; 0 is returned otherwise.
inline int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
    if (c <= 0) return 0;
    const uint64_t divisor = static_cast<uint64_t>(c);
    const bool negative = (a < 0) != (b < 0);
    const detail::Wide product = detail::MultiplyWide(detail::Magnitude(a), detail::Magnitude(b));
    uint64_t q = 0;
    if (!detail::DivideWide(detail::AddWide(product, divisor / 2), divisor, &q)) {
        q = std::numeric_limits<uint64_t>::max();
    }
    return detail::Signed(q, negative && q != 0);
}

inline int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline int64_t SaturatingSubtract(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

}  // namespace qxr::discipline
