// A device channel that passes everything through to the card, but makes the driver latch
// each time reading a random 0..max microseconds late, as interrupt latency would.
#pragma once

#include <cstdint>
#include <random>

#include "platform/ports/device_io.h"

namespace qxr::simulation {

class LatchJitterDevice : public platform::DeviceIo {
  public:
    LatchJitterDevice(platform::DeviceIo& inner, double maxMicroseconds, int64_t counterFrequency,
                      uint32_t seed);

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flags) override {
        return inner_.CreateFileA(name, access, shareMode, disposition, flags);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD bytesReturned) override;
    BOOL CloseHandle(HANDLE device) override { return inner_.CloseHandle(device); }

  private:
    platform::DeviceIo& inner_;
    int64_t maxCounts_;
    std::mt19937_64 random_;
};

}  // namespace qxr::simulation
