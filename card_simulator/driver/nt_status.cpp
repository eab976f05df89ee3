#include "card_simulator/driver/nt_status.h"

namespace qxr::simdriver {

namespace {

struct ErrorMapping {
    uint32_t win32Error;
    uint32_t ntStatus;
};

// The errors a card plausibly reports, by the status the platform itself uses for them.
constexpr ErrorMapping kMappings[] = {
    {1, 0xC0000010u},     // STATUS_INVALID_DEVICE_REQUEST -> ERROR_INVALID_FUNCTION
    {5, 0xC0000022u},     // STATUS_ACCESS_DENIED -> ERROR_ACCESS_DENIED
    {21, 0xC00000A3u},    // STATUS_DEVICE_NOT_READY -> ERROR_NOT_READY
    {31, 0xC0000001u},    // STATUS_UNSUCCESSFUL -> ERROR_GEN_FAILURE
    {87, 0xC000000Du},    // STATUS_INVALID_PARAMETER -> ERROR_INVALID_PARAMETER
    {121, 0xC00000B5u},   // STATUS_IO_TIMEOUT -> ERROR_SEM_TIMEOUT
    {122, 0xC0000023u},   // STATUS_BUFFER_TOO_SMALL -> ERROR_INSUFFICIENT_BUFFER
    {1117, 0xC0000185u},  // STATUS_IO_DEVICE_ERROR -> ERROR_IO_DEVICE
    {1167, 0xC000009Du},  // STATUS_DEVICE_NOT_CONNECTED -> ERROR_DEVICE_NOT_CONNECTED
};

// Error severity with facility 7 (FACILITY_NTWIN32): the status that carries a Win32 error
// number in its low word and is mapped back to exactly that number.
constexpr uint32_t kWin32ErrorStatus = 0xC0070000u;
constexpr uint32_t kStatusUnsuccessful = 0xC0000001u;

}  // namespace

uint32_t NtStatusFromWin32Error(uint32_t win32Error) {
    if (win32Error == 0) return 0;
    for (const ErrorMapping& m : kMappings) {
        if (m.win32Error == win32Error) return m.ntStatus;
    }
    if (win32Error > 0xFFFFu) return kStatusUnsuccessful;
    return kWin32ErrorStatus | win32Error;
}

}  // namespace qxr::simdriver
