#include "card_access/card_library.h"

#include <string.h>

#include "card_access/qxr_requests.h"
#include "card_access/reply_decoding.h"

namespace qxr::card_access {

namespace {

constexpr DWORD kOpenAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;

template <typename Record>
void ZeroFill(Record* record) {
    memset(record, 0, sizeof(Record));
}

}  // namespace

CardLibrary::CardLibrary(platform::DeviceIo& io) : io_(io) {
    OpenDevice();
}

CardLibrary::~CardLibrary() {
    if (HasHandle()) io_.CloseHandle(state_.device);
    state_.device = INVALID_HANDLE_VALUE;
}

void CardLibrary::OpenDevice() {
    state_.device = INVALID_HANDLE_VALUE;
    HANDLE device = io_.CreateFileA(QXR_DEVICE_NAME, kOpenAccess, 0, OPEN_EXISTING, kOpenFlags);
    if (device == INVALID_HANDLE_VALUE) {
        state_.lastError = GetLastError();
        return;
    }
    state_.device = device;
    state_.lastError = 0;
}

int32_t CardLibrary::IssueGetRequest(DWORD code, void* reply, DWORD length) {
    DWORD returned = 0;
    state_.lastError = 0;
    if (!HasHandle()) OpenDevice();
    if (!HasHandle()) return 0;
    if (!io_.DeviceIoControl(state_.device, code, nullptr, 0, reply, length, &returned)) {
        state_.lastError = GetLastError();
        // The next get-request opens afresh: that is how a restarted driver is found again.
        io_.CloseHandle(state_.device);
        state_.device = INVALID_HANDLE_VALUE;
    }
    return static_cast<int32_t>(returned);
}

uint32_t CardLibrary::GetVersion(DWORD code, CardVersion* version) {
    if (version == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_VERSION_REPLY_SIZE] = {};
    if (IssueGetRequest(code, reply, sizeof reply) <= 0) {
        ZeroFill(version);
        return state_.lastError;
    }
    DecodeVersion(reply, version);
    return 0;
}

uint32_t CardLibrary::GetDriverVersion(CardVersion* version) {
    return GetVersion(IOCTL_QXR_GET_DRIVER_VERSION, version);
}

uint32_t CardLibrary::GetFwVersion(CardVersion* version) {
    return GetVersion(IOCTL_QXR_GET_FW_VERSION, version);
}

int32_t CardLibrary::GetHwSignature(char* buffer, int32_t length) {
    // Nothing to receive into: no request, nothing written.
    if (buffer == nullptr || length <= 0) return 0;
    const int32_t n =
        IssueGetRequest(IOCTL_QXR_GET_HW_SIGNATURE, buffer, static_cast<DWORD>(length));
    // A reply that fills the buffer exactly gets no terminator.
    if (n >= 0 && n < length) buffer[n] = '\0';
    return n;
}

uint32_t CardLibrary::GetHwStatus(CardStatus* status) {
    if (status == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_STATUS_REPLY_SIZE] = {};
    if (IssueGetRequest(IOCTL_QXR_GET_HW_STATUS, reply, sizeof reply) <= 0) {
        ZeroFill(status);
        return state_.lastError;
    }
    DecodeStatus(reply, status);
    return 0;
}

uint32_t CardLibrary::GetTime(CardTime* time) {
    if (time == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_TIME_REPLY_SIZE] = {};
    if (IssueGetRequest(IOCTL_QXR_GET_TIME, reply, sizeof reply) <= 0) {
        ZeroFill(time);
        return state_.lastError;
    }
    DecodeTime(reply, time);
    return 0;
}

uint32_t CardLibrary::SetTime(const CardTime* time) {
    if (time == nullptr) return ERROR_INVALID_DATA;
    const uint32_t check = CheckSetTime(*time);
    if (check != 0) return check;
    uint8_t request[QXR_SET_TIME_REQUEST_SIZE] = {};
    EncodeSetTime(*time, request);
    DWORD returned = 0;
    // Only the handle held now: no open when there is none, no close when the call fails.
    if (io_.DeviceIoControl(state_.device, IOCTL_QXR_SET_TIME, request, sizeof request, nullptr, 0,
                            &returned)) {
        state_.lastError = 0;
    } else {
        state_.lastError = GetLastError();
    }
    return state_.lastError;
}

uint32_t CardLibrary::GetSignalQuality(CardSignalQuality* quality) {
    if (quality == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_SIGNAL_QUALITY_REPLY_SIZE] = {};
    if (IssueGetRequest(IOCTL_QXR_GET_SIGNAL_QUALITY, reply, sizeof reply) <= 0) {
        ZeroFill(quality);
        return state_.lastError;
    }
    DecodeSignalQuality(reply, quality);
    return 0;
}

uint32_t CardLibrary::GetPosition(CardPosition* position) {
    if (position == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_POSITION_REPLY_SIZE] = {};
    if (IssueGetRequest(IOCTL_QXR_GET_POSITION, reply, sizeof reply) <= 0) {
        ZeroFill(position);
        return state_.lastError;
    }
    DecodePosition(reply, position);
    return 0;
}

uint32_t CardLibrary::GetFwChecksum(uint32_t* checksum) {
    if (checksum == nullptr) return ERROR_INVALID_DATA;
    uint8_t reply[QXR_CHECKSUM_REPLY_SIZE] = {};
    if (IssueGetRequest(IOCTL_QXR_GET_FW_CHECKSUM, reply, sizeof reply) <= 0) {
        *checksum = 0;
        return state_.lastError;
    }
    *checksum = DecodeChecksum(reply);
    return 0;
}

}  // namespace qxr::card_access
