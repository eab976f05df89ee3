#include "card_simulator/sim_card_device.h"

#include <cstring>

#include "card_access/qxr_requests.h"

namespace qxr::sim {

SimCardDevice::SimCardDevice(SimClock& clock, const card::CardSettings& settings, bool loaded)
    : clock_(clock) {
    if (loaded) Start(settings);
}

card::ClockSample SimCardDevice::Sample() {
    LARGE_INTEGER frequency{};
    clock_.QueryPerformanceFrequency(&frequency);
    const int64_t now = clock_.TrueTime();
    return card::ClockSample{now, clock_.CounterAt(now), frequency.QuadPart};
}

HANDLE SimCardDevice::CreateFileA(LPCSTR name, DWORD, DWORD, DWORD, DWORD) {
    if (!loaded_ || name == nullptr || std::strcmp(name, QXR_DEVICE_NAME) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = generation_;
    ++opens_;
    return handle;
}

BOOL SimCardDevice::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                    DWORD outSize, LPDWORD bytesReturned) {
    ++requests_;
    lastCode_ = code;
    if (bytesReturned != nullptr) *bytesReturned = 0;
    const auto it = handles_.find(device);
    if (it == handles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A handle outlives the driver load it was opened on, but is useless from then on.
    if (!loaded_ || it->second != generation_) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    uint32_t returned = 0;
    const uint32_t error =
        model_.HandleRequest(Sample(), code, in, inSize, out, outSize, &returned);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return TRUE;
}

BOOL SimCardDevice::CloseHandle(HANDLE device) {
    if (handles_.erase(device) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ++closes_;
    return TRUE;
}

void SimCardDevice::Stop() {
    loaded_ = false;
    model_.Stop();
}

void SimCardDevice::Start(const card::CardSettings& settings) {
    loaded_ = true;
    ++generation_;
    model_.Start(settings);
}

}  // namespace qxr::sim
