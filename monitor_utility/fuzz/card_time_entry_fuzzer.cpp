// QxrSet's card-time entry parser on any text the operator can type (any bytes up to the
// first zero). An entry is taken exactly when the separators '/', '/', ' ', ':', ':' follow
// in that order with a non-empty month; it then fills year..second and nothing else, each
// part read like strtoll would read it, held to 32 bits. A number is never read beyond the
// end it is given (the buffers here have no terminator after that end).
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monitor_utility/card_time_entry.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;

int32_t Reference(const std::string& part) {
    errno = 0;
    const long long value = std::strtoll(part.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The number in text[begin, end), parsed from an exact copy with nothing after it.
int32_t Parsed(const std::string& text, size_t begin, size_t end) {
    std::vector<char> exact(text.begin() + static_cast<long>(begin),
                            text.begin() + static_cast<long>(end));
    const char* p = exact.empty() ? nullptr : exact.data();
    return monitor::ParseEntryNumber(p, p + exact.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes),
                           strnlen(reinterpret_cast<const char*>(bytes), size));

    for (size_t begin = 0; begin <= text.size() && begin < 64; begin += 7) {
        const size_t end = text.size() < begin + 40 ? text.size() : begin + 40;
        QXR_FUZZ_CHECK(Parsed(text, begin, end) == Reference(text.substr(begin, end - begin)));
    }

    CardTime request;
    std::memset(&request, 0xA5, sizeof request);
    const bool taken = monitor::ParseCardTimeEntry(text.c_str(), &request);
    const size_t a = text.find('/');
    const size_t b = a == std::string::npos ? a : text.find('/', a + 1);
    const size_t c = b == std::string::npos ? b : text.find(' ', b + 1);
    const size_t d = c == std::string::npos ? c : text.find(':', c + 1);
    const size_t e = d == std::string::npos ? d : text.find(':', d + 1);
    const bool wellFormed = e != std::string::npos && a > 0;
    QXR_FUZZ_CHECK(taken == wellFormed);

    CardTime untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    QXR_FUZZ_CHECK(request.millisecond == untouched.millisecond &&
                   request.auxWord == untouched.auxWord &&
                   request.latchCounterLow == untouched.latchCounterLow &&
                   request.latchCounterHigh == untouched.latchCounterHigh);
    if (!taken) {
        QXR_FUZZ_CHECK(std::memcmp(&request, &untouched, sizeof request) == 0);
        return 0;
    }
    QXR_FUZZ_CHECK(request.month == Reference(text.substr(0, a)));
    QXR_FUZZ_CHECK(request.day == Reference(text.substr(a + 1, b - a - 1)));
    QXR_FUZZ_CHECK(request.year == Reference(text.substr(b + 1, c - b - 1)));
    QXR_FUZZ_CHECK(request.hour == Reference(text.substr(c + 1, d - c - 1)));
    QXR_FUZZ_CHECK(request.minute == Reference(text.substr(d + 1, e - d - 1)));
    QXR_FUZZ_CHECK(request.second == Reference(text.substr(e + 1)));
    return 0;
}
