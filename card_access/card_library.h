// The body of qxrtime: one device state per process and the nine exports over a device
// channel. Constructing it is loading the library (the device is opened); destroying it is
// unloading (the handle is closed). No lock: calls must not overlap.
#pragma once

#include <stdint.h>

#include "card_access/qxrtime.h"
#include "platform/ports/device_io.h"

namespace qxr::card_access {

struct DeviceState {
    HANDLE device = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE: no handle held
    DWORD lastError = 0;                   // of the most recent open or request
};

class CardLibrary {
  public:
    explicit CardLibrary(platform::DeviceIo& io);
    ~CardLibrary();
    CardLibrary(const CardLibrary&) = delete;
    CardLibrary& operator=(const CardLibrary&) = delete;

    uint32_t GetDriverVersion(CardVersion* version);
    uint32_t GetFwVersion(CardVersion* version);
    int32_t GetHwSignature(char* buffer, int32_t length);
    uint32_t GetHwStatus(CardStatus* status);
    uint32_t GetTime(CardTime* time);
    uint32_t SetTime(const CardTime* time);
    uint32_t GetSignalQuality(CardSignalQuality* quality);
    uint32_t GetPosition(CardPosition* position);
    uint32_t GetFwChecksum(uint32_t* checksum);

    const DeviceState& State() const { return state_; }
    bool HasHandle() const { return state_.device != INVALID_HANDLE_VALUE; }

  private:
    void OpenDevice();
    // One get-request into `reply`; the byte count the driver reported (0 on failure).
    int32_t IssueGetRequest(DWORD code, void* reply, DWORD length);
    uint32_t GetVersion(DWORD code, CardVersion* version);

    platform::DeviceIo& io_;
    DeviceState state_;
};

}  // namespace qxr::card_access
