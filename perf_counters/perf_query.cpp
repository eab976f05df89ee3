#include "perf_counters/perf_query.h"

#include <cstring>

namespace qxr::perf {

namespace {

// The query's units, read through memcpy: perflib's string need not be aligned for us.
class QueryText {
  public:
    explicit QueryText(const void* query) : bytes_(static_cast<const unsigned char*>(query)) {
        while (bytes_ != nullptr && length_ < kMaxQueryUnits && At(length_) != 0) ++length_;
    }
    int Length() const { return length_; }
    uint16_t At(int i) const {
        uint16_t unit = 0;
        std::memcpy(&unit, bytes_ + 2 * i, sizeof unit);
        return unit;
    }

  private:
    const unsigned char* bytes_;
    int length_ = 0;
};

bool IsSeparator(uint16_t unit) {
    return unit <= 0x20;
}

uint16_t Lower(uint16_t unit) {
    return unit >= 'A' && unit <= 'Z' ? static_cast<uint16_t>(unit + ('a' - 'A')) : unit;
}

bool WordIs(const QueryText& text, int start, int end, const char* word) {
    const int length = static_cast<int>(std::strlen(word));
    if (end - start != length) return false;
    for (int i = 0; i < length; ++i) {
        if (Lower(text.At(start + i)) != Lower(static_cast<uint16_t>(word[i]))) return false;
    }
    return true;
}

// A word of decimal digits whose value fits 32 bits.
bool WordNumber(const QueryText& text, int start, int end, uint32_t* number) {
    uint64_t value = 0;
    for (int i = start; i < end; ++i) {
        const uint16_t unit = text.At(i);
        if (unit < '0' || unit > '9') return false;
        value = value * 10 + (unit - '0');
        if (value > 0xFFFFFFFFu) return false;
    }
    *number = static_cast<uint32_t>(value);
    return end > start;
}

}  // namespace

bool QueryWantsObject(const void* query, uint32_t objectIndex) {
    const QueryText text(query);
    bool first = true;
    for (int i = 0; i < text.Length();) {
        while (i < text.Length() && IsSeparator(text.At(i))) ++i;
        const int start = i;
        while (i < text.Length() && !IsSeparator(text.At(i))) ++i;
        if (start == i) break;
        if (first) {
            if (WordIs(text, start, i, "Global")) return true;
            if (WordIs(text, start, i, "Foreign") || WordIs(text, start, i, "Costly")) {
                return false;
            }
            first = false;
        }
        uint32_t number = 0;
        if (WordNumber(text, start, i, &number) && number == objectIndex) return true;
    }
    // Nothing but separators asks for what an empty query does.
    return first;
}

}  // namespace qxr::perf
