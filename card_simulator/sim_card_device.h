// The device channel of the simulated machine: \\.\QXR served in-process by the card model,
// with the driver's service life (stop, start with new settings) as Wine shows it.
#pragma once

#include <cstdint>
#include <map>

#include "card_simulator/card_model.h"
#include "platform/ports/device_io.h"
#include "platform/sim/sim_clock.h"

namespace qxr::sim {

class SimCardDevice : public platform::DeviceIo {
  public:
    // The driver starts loaded with `settings` unless `loaded` is false.
    explicit SimCardDevice(SimClock& clock,
                           const card::CardSettings& settings = card::CardSettings{card::kBusIsa,
                                                                                   0x300, 5},
                           bool loaded = true);

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flags) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD bytesReturned) override;
    BOOL CloseHandle(HANDLE device) override;

    // The driver service: Stop unloads it (new opens fail with ERROR_FILE_NOT_FOUND, handles
    // opened before fail with ERROR_ACCESS_DENIED for good); Start loads it afresh with the
    // settings stored now, the card back at its defaults.
    void Stop();
    void Start(const card::CardSettings& settings);
    bool Loaded() const { return loaded_; }

    card::CardModel& Model() { return model_; }
    // The host clocks as the driver would read them now.
    card::ClockSample Sample();

    int Opens() const { return opens_; }        // successful opens
    int Requests() const { return requests_; }  // DeviceIoControl calls, failed ones too
    int Closes() const { return closes_; }      // successful closes
    int OpenHandles() const { return static_cast<int>(handles_.size()); }
    DWORD LastRequestCode() const { return lastCode_; }

  private:
    SimClock& clock_;
    card::CardModel model_;
    bool loaded_ = false;
    uint32_t generation_ = 0;  // which load of the driver a handle belongs to
    uintptr_t nextHandle_ = 0x1000;
    std::map<HANDLE, uint32_t> handles_;
    int opens_ = 0;
    int requests_ = 0;
    int closes_ = 0;
    DWORD lastCode_ = 0;
};

}  // namespace qxr::sim
