// The card access library against a driver that answers anything: opens that fail, requests
// that fail with any code, replies of any length up to the buffer offered and any bytes. The
// input is a sequence of exports to call. Every export returns 0 with the record decoded from
// the bytes received (the rest read as zero), or the failure's code with the record
// zero-filled; it writes nothing outside its record; the library holds at most one handle and
// closes it when it is unloaded.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <set>
#include <vector>

#include "card_access/card_library.h"
#include "card_access/reply_decoding.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;
using card_access::CardLibrary;

class AnyDriver : public platform::DeviceIo {
  public:
    explicit AnyDriver(FuzzedDataProvider& data) : data_(data) {}

    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, DWORD, DWORD) override {
        if (data_.ConsumeBool()) return Refuse(INVALID_HANDLE_VALUE);
        const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_++);
        open_.insert(handle);
        QXR_FUZZ_CHECK(open_.size() == 1);
        return handle;
    }
    BOOL DeviceIoControl(HANDLE device, DWORD, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                         LPDWORD returned) override {
        QXR_FUZZ_CHECK(returned != nullptr);
        *returned = 0;
        lastIn.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
        received.clear();
        if (open_.count(device) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        if (data_.ConsumeBool()) return Refuse(FALSE);
        // Any count up to the buffer; bytes the input has run out of stay as they were.
        const DWORD count = data_.ConsumeIntegralInRange<DWORD>(0, outSize);
        received = data_.ConsumeBytes<uint8_t>(count);
        if (!received.empty()) std::memcpy(out, received.data(), received.size());
        received.resize(count, 0);
        *returned = count;
        return TRUE;
    }
    BOOL CloseHandle(HANDLE device) override {
        QXR_FUZZ_CHECK(open_.erase(device) == 1);
        return TRUE;
    }

    size_t OpenCount() const { return open_.size(); }
    DWORD lastError = 0;            // of the last refusal
    std::vector<uint8_t> received;  // the last successful reply as the library got it
    std::vector<uint8_t> lastIn;

  private:
    template <typename Result>
    Result Refuse(Result result) {
        lastError = data_.ConsumeIntegralInRange<DWORD>(1, 0xFFFFFFFFu);
        SetLastError(lastError);
        received.clear();
        return result;
    }

    FuzzedDataProvider& data_;
    std::set<HANDLE> open_;
    uintptr_t nextHandle_ = 0x100;
};

template <typename Record>
bool AllZero(const Record& record) {
    static const Record zero{};
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

// The reply buffer as the decoder must have seen it: the bytes received, zeros after them.
template <size_t N>
void Padded(const std::vector<uint8_t>& received, uint8_t (&reply)[N]) {
    std::memset(reply, 0, N);
    std::memcpy(reply, received.data(), received.size() < N ? received.size() : N);
}

// A get-export's result: success only with bytes received, decoded; else the record is zero.
template <typename Record, size_t N>
void CheckGet(uint32_t result, const Record& record, const AnyDriver& driver,
              void (*decode)(const uint8_t (&)[N], Record*)) {
    if (result == 0 && !driver.received.empty()) {
        uint8_t reply[N];
        Padded(driver.received, reply);
        // Scribbled like the record, so that the padding between fields compares equal.
        Record expected;
        std::memset(&expected, 0xA5, sizeof expected);
        decode(reply, &expected);
        QXR_FUZZ_CHECK(std::memcmp(&expected, &record, sizeof record) == 0);
    } else {
        QXR_FUZZ_CHECK(AllZero(record));
        QXR_FUZZ_CHECK(result == 0 || result == driver.lastError || result == ERROR_INVALID_HANDLE);
    }
}

void CheckStatusRanges(const CardStatus& s) {
    const int32_t reference = static_cast<int32_t>(s.reference);
    QXR_FUZZ_CHECK(reference >= 0 && reference <= 2);
    QXR_FUZZ_CHECK(s.gpsPresent <= 1 && s.statusFlag4 <= 1);
    QXR_FUZZ_CHECK(s.tickToggle == 0 || s.tickToggle == 1);
    QXR_FUZZ_CHECK(s.statusCode11 >= 0 && s.statusCode11 <= 2);
    QXR_FUZZ_CHECK(s.statusCode13 >= 0 && s.statusCode13 <= 3);
    QXR_FUZZ_CHECK(s.statusByte2 >= 0 && s.statusByte2 <= 255);
    QXR_FUZZ_CHECK(s.statusByte3 >= -128 && s.statusByte3 <= 127);
}

void CheckTimeRanges(const CardTime& t) {
    for (int32_t field :
         {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond, t.auxWord}) {
        QXR_FUZZ_CHECK(field >= 0 && field <= 0xFFFF);
    }
}

template <typename Record>
void Scribble(Record* record) {
    std::memset(record, 0xA5, sizeof *record);
}

void CallOne(FuzzedDataProvider& data, CardLibrary& library, AnyDriver& driver) {
    switch (data.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: {
            CardStatus status;
            Scribble(&status);
            const uint32_t result = library.GetHwStatus(&status);
            CheckGet(result, status, driver, card_access::DecodeStatus);
            CheckStatusRanges(status);
            break;
        }
        case 1: {
            CardTime time;
            Scribble(&time);
            const uint32_t result = library.GetTime(&time);
            CheckGet(result, time, driver, card_access::DecodeTime);
            CheckTimeRanges(time);
            break;
        }
        case 2: {
            CardVersion version;
            Scribble(&version);
            const bool driverVersion = data.ConsumeBool();
            const uint32_t result =
                driverVersion ? library.GetDriverVersion(&version) : library.GetFwVersion(&version);
            CheckGet(result, version, driver, card_access::DecodeVersion);
            break;
        }
        case 3: {
            CardSignalQuality quality;
            Scribble(&quality);
            CheckGet(library.GetSignalQuality(&quality), quality, driver,
                     card_access::DecodeSignalQuality);
            break;
        }
        case 4: {
            CardPosition position;
            Scribble(&position);
            CheckGet(library.GetPosition(&position), position, driver, card_access::DecodePosition);
            break;
        }
        case 5: {
            uint32_t checksum = 0xA5A5A5A5u;
            const uint32_t result = library.GetFwChecksum(&checksum);
            if (result == 0 && !driver.received.empty()) {
                uint8_t reply[QXR_CHECKSUM_REPLY_SIZE];
                Padded(driver.received, reply);
                QXR_FUZZ_CHECK(checksum == card_access::DecodeChecksum(reply));
            } else {
                QXR_FUZZ_CHECK(checksum == 0);
            }
            break;
        }
        case 6: {
            // Exactly the room asked for, so that a write past it is caught.
            const int32_t length = data.ConsumeIntegralInRange<int32_t>(-2, 300);
            std::vector<char> buffer(length > 0 ? static_cast<size_t>(length) : 1, 'x');
            const int32_t n = library.GetHwSignature(buffer.data(), length);
            if (length <= 0) {
                QXR_FUZZ_CHECK(n == 0 && buffer[0] == 'x');
            } else {
                QXR_FUZZ_CHECK(n >= 0 && n <= length);
                if (n < length) QXR_FUZZ_CHECK(buffer[static_cast<size_t>(n)] == '\0');
            }
            break;
        }
        case 7: {
            CardTime time{};
            time.year = data.ConsumeIntegralInRange<int32_t>(1990, 2110);
            time.month = data.ConsumeIntegralInRange<int32_t>(-1, 14);
            time.day = data.ConsumeIntegralInRange<int32_t>(-1, 33);
            time.hour = data.ConsumeIntegralInRange<int32_t>(-1, 25);
            time.minute = data.ConsumeIntegralInRange<int32_t>(-1, 61);
            time.second = data.ConsumeIntegralInRange<int32_t>(-1, 62);
            driver.lastIn.clear();
            const uint32_t result = library.SetTime(&time);
            if (card_access::CheckSetTime(time) != 0) {
                QXR_FUZZ_CHECK(result == ERROR_INVALID_DATA && driver.lastIn.empty());
            } else {
                QXR_FUZZ_CHECK(driver.lastIn.size() == QXR_SET_TIME_REQUEST_SIZE);
                QXR_FUZZ_CHECK(driver.lastIn[0] == (time.year & 0xFF) &&
                               driver.lastIn[2] == time.month && driver.lastIn[10] == time.second);
            }
            break;
        }
        case 8: {
            // A null record is refused before anything is sent.
            QXR_FUZZ_CHECK(library.GetHwStatus(nullptr) == ERROR_INVALID_DATA);
            QXR_FUZZ_CHECK(library.GetTime(nullptr) == ERROR_INVALID_DATA);
            QXR_FUZZ_CHECK(library.SetTime(nullptr) == ERROR_INVALID_DATA);
            break;
        }
        default:
            QXR_FUZZ_CHECK(library.GetHwSignature(nullptr, 8) == 0);
            break;
    }
    QXR_FUZZ_CHECK(driver.OpenCount() <= 1);
    QXR_FUZZ_CHECK(library.HasHandle() == (driver.OpenCount() == 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    AnyDriver driver(data);
    {
        CardLibrary library(driver);
        for (int calls = 0; calls < 64 && data.remaining_bytes() > 0; ++calls) {
            CallOne(data, library, driver);
        }
    }
    QXR_FUZZ_CHECK(driver.OpenCount() == 0);
    return 0;
}
