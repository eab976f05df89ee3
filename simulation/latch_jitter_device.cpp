#include "simulation/latch_jitter_device.h"

#include "card_access/qxr_requests.h"

namespace qxr::simulation {

namespace {
constexpr DWORD kLatchOffset = 16;  // latch counter low, then high, in the time reply
}

LatchJitterDevice::LatchJitterDevice(platform::DeviceIo& inner, double maxMicroseconds,
                                     int64_t counterFrequency, uint32_t seed)
    : inner_(inner),
      maxCounts_(
          static_cast<int64_t>(maxMicroseconds * 1e-6 * static_cast<double>(counterFrequency))),
      random_(seed) {}

BOOL LatchJitterDevice::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize,
                                        LPVOID out, DWORD outSize, LPDWORD bytesReturned) {
    const BOOL ok = inner_.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
    if (!ok || code != IOCTL_QXR_GET_TIME || maxCounts_ <= 0 || out == nullptr ||
        *bytesReturned < kLatchOffset + 8) {
        return ok;
    }
    auto* bytes = static_cast<uint8_t*>(out) + kLatchOffset;
    uint64_t latch = 0;
    for (int i = 7; i >= 0; --i) latch = (latch << 8) | bytes[i];
    if (latch == 0) return ok;  // no counter: nothing to disturb
    latch += std::uniform_int_distribution<int64_t>(0, maxCounts_)(random_);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(latch >> (8 * i));
    return ok;
}

}  // namespace qxr::simulation
