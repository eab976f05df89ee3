#include "card_access/card_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "card_access/library_card_client.h"
#include "card_access/qxr_requests.h"
#include "card_simulator/sim_card_device.h"
#include "platform/sim/sim_clock.h"

namespace qxr::card_access {
namespace {

// A device channel whose answers the test sets and whose calls it records.
class ScriptedDevice : public platform::DeviceIo {
  public:
    struct Request {
        HANDLE handle;
        DWORD code;
        std::vector<uint8_t> in;
        DWORD outSize;
        bool outNull;
    };

    DWORD openError = 0;         // 0: the open succeeds
    DWORD requestError = 0;      // 0: requests succeed
    std::vector<uint8_t> reply;  // copied into the output buffer, at most its size
    int openCount = 0;
    std::string openName;
    DWORD openAccess = 0, openShare = 99, openDisposition = 0, openFlags = 0;
    std::vector<Request> requests;
    std::vector<HANDLE> closed;

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override {
        ++openCount;
        openName = name;
        openAccess = access, openShare = share, openDisposition = disposition, openFlags = flags;
        if (openError != 0) {
            SetLastError(openError);
            return INVALID_HANDLE_VALUE;
        }
        return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x40 + openCount));
    }
    BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned) override {
        const uint8_t* bytes = static_cast<const uint8_t*>(in);
        requests.push_back(
            {handle, code, std::vector<uint8_t>(bytes, bytes + inSize), outSize, out == nullptr});
        *returned = 0;
        if (handle == INVALID_HANDLE_VALUE) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (requestError != 0) {
            SetLastError(requestError);
            return FALSE;
        }
        const DWORD n =
            static_cast<DWORD>(reply.size()) < outSize ? static_cast<DWORD>(reply.size()) : outSize;
        if (n > 0) std::memcpy(out, reply.data(), n);
        *returned = n;
        return TRUE;
    }
    BOOL CloseHandle(HANDLE handle) override {
        closed.push_back(handle);
        return TRUE;
    }
};

template <typename Record>
void Scribble(Record* r) {
    std::memset(r, 0xA5, sizeof *r);
}

template <typename Record>
bool AllZero(const Record& r) {
    const auto* p = reinterpret_cast<const uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// Calls one record-filling export on a scribbled record; reports result and zero-filling.
struct Outcome {
    uint32_t result;
    bool zero;
};
using Export = Outcome (*)(CardLibrary&);
template <typename Record, uint32_t (CardLibrary::*Method)(Record*)>
Outcome Call(CardLibrary& library) {
    Record record;
    Scribble(&record);
    const uint32_t result = (library.*Method)(&record);
    return {result, AllZero(record)};
}
struct NamedExport {
    const char* name;
    DWORD code;
    DWORD replySize;
    Export call;
    uint32_t (*callNull)(CardLibrary&);
};
const NamedExport kExports[] = {
    {"GetDriverVersion", IOCTL_QXR_GET_DRIVER_VERSION, 8,
     Call<CardVersion, &CardLibrary::GetDriverVersion>,
     [](CardLibrary& l) { return l.GetDriverVersion(nullptr); }},
    {"GetFwVersion", IOCTL_QXR_GET_FW_VERSION, 8, Call<CardVersion, &CardLibrary::GetFwVersion>,
     [](CardLibrary& l) { return l.GetFwVersion(nullptr); }},
    {"GetHwStatus", IOCTL_QXR_GET_HW_STATUS, 4, Call<CardStatus, &CardLibrary::GetHwStatus>,
     [](CardLibrary& l) { return l.GetHwStatus(nullptr); }},
    {"GetTime", IOCTL_QXR_GET_TIME, 24, Call<CardTime, &CardLibrary::GetTime>,
     [](CardLibrary& l) { return l.GetTime(nullptr); }},
    {"GetSignalQuality", IOCTL_QXR_GET_SIGNAL_QUALITY, 28,
     Call<CardSignalQuality, &CardLibrary::GetSignalQuality>,
     [](CardLibrary& l) { return l.GetSignalQuality(nullptr); }},
    {"GetPosition", IOCTL_QXR_GET_POSITION, 28, Call<CardPosition, &CardLibrary::GetPosition>,
     [](CardLibrary& l) { return l.GetPosition(nullptr); }},
    {"GetFwChecksum", IOCTL_QXR_GET_FW_CHECKSUM, 4, Call<uint32_t, &CardLibrary::GetFwChecksum>,
     [](CardLibrary& l) { return l.GetFwChecksum(nullptr); }},
};

TEST(CardLibraryLoad, OpensDeviceWithFixedArgumentsAndClosesAtUnload) {
    ScriptedDevice device;
    {
        CardLibrary library(device);
        EXPECT_EQ(device.openCount, 1);
        EXPECT_EQ(device.openName, "\\\\.\\QXR");
        EXPECT_EQ(device.openAccess, 0xC0000000u);
        EXPECT_EQ(device.openShare, 0u);
        EXPECT_EQ(device.openDisposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(device.openFlags, 0x40000080u);
        EXPECT_TRUE(library.HasHandle());
        EXPECT_EQ(library.State().lastError, 0u);
        EXPECT_TRUE(device.closed.empty());
    }
    ASSERT_EQ(device.closed.size(), 1u);
}

TEST(CardLibraryLoad, LoadSucceedsWithoutDeviceAndUnloadClosesNothing) {
    ScriptedDevice device;
    device.openError = ERROR_FILE_NOT_FOUND;
    {
        CardLibrary library(device);
        EXPECT_FALSE(library.HasHandle());
        EXPECT_EQ(library.State().lastError, 2u);
    }
    EXPECT_TRUE(device.closed.empty());
}

TEST(CardLibraryFailures, NullRecordMakesNoRequestAndKeepsState) {
    ScriptedDevice device;
    device.openError = ERROR_ACCESS_DENIED;
    CardLibrary library(device);
    for (const auto& e : kExports) {
        EXPECT_EQ(e.callNull(library), 13u) << e.name;
    }
    EXPECT_EQ(library.SetTime(nullptr), 13u);
    EXPECT_EQ(device.openCount, 1);  // the load's open only
    EXPECT_TRUE(device.requests.empty());
    EXPECT_EQ(library.State().lastError, 5u);
}

TEST(CardLibraryFailures, DeviceCannotBeOpened) {
    ScriptedDevice device;
    device.openError = ERROR_FILE_NOT_FOUND;
    CardLibrary library(device);
    int opens = device.openCount;
    for (const auto& e : kExports) {
        const Outcome o = e.call(library);
        EXPECT_EQ(o.result, 2u) << e.name;
        EXPECT_TRUE(o.zero) << e.name;
        EXPECT_EQ(device.openCount, ++opens) << e.name << ": each call tries the open once";
        EXPECT_EQ(library.State().lastError, 2u);
        EXPECT_FALSE(library.HasHandle());
    }
    EXPECT_TRUE(device.requests.empty());
}

TEST(CardLibraryFailures, FailedRequestZeroFillsAndClosesHandle) {
    ScriptedDevice device;
    device.requestError = ERROR_GEN_FAILURE;
    CardLibrary library(device);
    for (const auto& e : kExports) {
        const size_t closes = device.closed.size();
        const Outcome o = e.call(library);
        EXPECT_EQ(o.result, 31u) << e.name;
        EXPECT_TRUE(o.zero) << e.name;
        EXPECT_EQ(library.State().lastError, 31u);
        EXPECT_FALSE(library.HasHandle());
        EXPECT_EQ(device.closed.size(), closes + 1) << e.name;
        EXPECT_EQ(device.requests.back().code, e.code);
        EXPECT_EQ(device.requests.back().outSize, e.replySize) << e.name;
        EXPECT_TRUE(device.requests.back().in.empty());
    }
}

TEST(CardLibraryFailures, SuccessWithoutDataGivesZeroRecordAndKeepsHandle) {
    ScriptedDevice device;
    CardLibrary library(device);
    for (const auto& e : kExports) {
        const Outcome o = e.call(library);
        EXPECT_EQ(o.result, 0u) << e.name;
        EXPECT_TRUE(o.zero) << e.name;
        EXPECT_TRUE(library.HasHandle());
    }
    EXPECT_EQ(device.openCount, 1);
    EXPECT_EQ(device.requests.size(), 7u);  // exactly one request per call
    EXPECT_TRUE(device.closed.empty());
}

TEST(CardLibraryFailures, ShortReplyIsDecodedFromZeroedBuffer) {
    ScriptedDevice device;
    device.reply = {0xEA, 0x07, 0x0C};  // year and half of the month
    CardLibrary library(device);
    CardTime time;
    Scribble(&time);
    EXPECT_EQ(library.GetTime(&time), 0u);
    EXPECT_EQ(time.year, 2026);
    EXPECT_EQ(time.month, 12);
    EXPECT_EQ(time.day, 0);
    EXPECT_EQ(time.latchCounterHigh, 0u);
}

TEST(CardLibrarySetTime, RangeErrorSendsNothingAndKeepsLastError) {
    ScriptedDevice device;
    device.openError = ERROR_FILE_NOT_FOUND;
    CardLibrary library(device);
    CardTime t{2100, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 13u);
    t = {2026, 0, 32, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 13u);
    EXPECT_TRUE(device.requests.empty());
    EXPECT_EQ(library.State().lastError, 2u);
}

TEST(CardLibrarySetTime, SendsTwelveBytesOnHeldHandle) {
    ScriptedDevice device;
    CardLibrary library(device);
    const CardTime t{2000, 2, 31, 23, 59, 60, 999, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 0u);
    ASSERT_EQ(device.requests.size(), 1u);
    const auto& r = device.requests[0];
    EXPECT_EQ(r.code, IOCTL_QXR_SET_TIME);
    EXPECT_EQ(r.in, (std::vector<uint8_t>{0xD0, 0x07, 2, 0, 31, 0, 23, 0, 59, 0, 60, 0}));
    EXPECT_EQ(r.outSize, 0u);
    EXPECT_TRUE(r.outNull);
}

TEST(CardLibrarySetTime, FailedRequestKeepsHandle) {
    ScriptedDevice device;
    CardLibrary library(device);
    device.requestError = ERROR_GEN_FAILURE;
    const CardTime t{2026, 12, 7, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 31u);
    EXPECT_EQ(library.State().lastError, 31u);
    EXPECT_TRUE(library.HasHandle());
    EXPECT_TRUE(device.closed.empty());
    device.requestError = 0;
    EXPECT_EQ(library.SetTime(&t), 0u);
    EXPECT_EQ(library.State().lastError, 0u);
}

TEST(CardLibrarySetTime, WithoutHandleNeitherOpensNorSucceeds) {
    ScriptedDevice device;
    device.openError = ERROR_FILE_NOT_FOUND;
    CardLibrary library(device);
    device.openError = 0;  // the driver is back, but SetTime does not look
    const CardTime t{2026, 12, 7, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 6u);
    EXPECT_EQ(library.State().lastError, 6u);
    EXPECT_EQ(device.openCount, 1);
    EXPECT_FALSE(library.HasHandle());
}

// The last error belongs to the most recent open or request: a get starts from 0, a range
// rejection leaves it, and QxrSetTime goes out on whatever handle the last get left.
TEST(CardLibrarySetTime, LastErrorAndHandleAcrossExports) {
    ScriptedDevice device;
    device.reply = {0x09, 0x00, 0x00, 0x00};
    CardLibrary library(device);
    const CardTime t{2026, 12, 7, 1, 2, 3, 0, 0, 0, 0};

    device.requestError = ERROR_GEN_FAILURE;
    EXPECT_EQ(library.SetTime(&t), 31u);
    device.requestError = 0;
    CardStatus status{};
    EXPECT_EQ(library.GetHwStatus(&status), 0u);
    EXPECT_EQ(library.State().lastError, 0u);  // cleared by the successful get
    EXPECT_EQ(status.reference, TimeReference::Gps);

    device.requestError = ERROR_GEN_FAILURE;
    CardTime time{};
    EXPECT_EQ(library.GetTime(&time), 31u);
    const HANDLE dead = device.requests.back().handle;
    CardTime bad = t;
    bad.month = 13;
    EXPECT_EQ(library.SetTime(&bad), 13u);
    EXPECT_EQ(library.State().lastError, 31u);  // untouched by the rejection
    device.requestError = 0;
    EXPECT_EQ(library.SetTime(&t), 6u);  // no handle since the failed get
    EXPECT_EQ(device.requests.back().handle, INVALID_HANDLE_VALUE);

    EXPECT_EQ(library.GetHwStatus(&status), 0u);
    EXPECT_EQ(library.State().lastError, 0u);
    const HANDLE reopened = device.requests.back().handle;
    EXPECT_NE(reopened, dead);
    EXPECT_EQ(library.SetTime(&t), 0u);
    EXPECT_EQ(device.requests.back().handle, reopened);
    EXPECT_EQ(device.openCount, 2);
    ASSERT_EQ(device.closed.size(), 1u);
    EXPECT_EQ(device.closed[0], dead);
}

TEST(CardLibrarySignature, TerminatorRules) {
    ScriptedDevice device;
    device.reply = {'A', 'B', 'C', 'D'};
    CardLibrary library(device);

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(library.GetHwSignature(buffer, 8), 4);
    EXPECT_STREQ(buffer, "ABCD");
    EXPECT_EQ(buffer[5], 'x');
    EXPECT_EQ(device.requests.back().outSize, 8u);

    // A reply that fills the buffer gets no terminator.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(library.GetHwSignature(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 5), "ABCDx");

    // Nothing to receive into: no request, nothing written.
    const size_t requests = device.requests.size();
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(library.GetHwSignature(buffer, 0), 0);
    EXPECT_EQ(library.GetHwSignature(buffer, -5), 0);
    EXPECT_EQ(library.GetHwSignature(nullptr, 8), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(device.requests.size(), requests);

    // A failed request leaves an empty string and closes the handle.
    device.requestError = ERROR_GEN_FAILURE;
    EXPECT_EQ(library.GetHwSignature(buffer, 8), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
    EXPECT_FALSE(library.HasHandle());
}

// Against the simulated card and its driver service.
class CardLibraryOnSimCard : public ::testing::Test {
  protected:
    sim::SimClock clock;
    sim::SimCardDevice device{clock, card::CardSettings{card::kBusIsa, 0x300, 5}, false};
};

TEST_F(CardLibraryOnSimCard, DriverStartedAfterLoadIsFoundByNextGet) {
    CardLibrary library(device);
    CardStatus status;
    Scribble(&status);
    EXPECT_EQ(library.GetHwStatus(&status), 2u);
    EXPECT_TRUE(AllZero(status));
    const CardTime t{2026, 12, 7, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 6u);

    device.Start(card::CardSettings{card::kBusPci, 0, 11});
    EXPECT_EQ(library.SetTime(&t), 6u);  // still no handle: only a get-export opens
    EXPECT_EQ(library.GetHwStatus(&status), 0u);
    EXPECT_EQ(status.reference, TimeReference::Gps);
    EXPECT_EQ(status.gpsPresent, 1);
    EXPECT_EQ(library.SetTime(&t), 0u);
    EXPECT_EQ(device.Opens(), 1);
}

TEST_F(CardLibraryOnSimCard, RestartedDriverRecoveredAfterOneFailedGet) {
    device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
    CardLibrary library(device);
    CardTime time{};
    ASSERT_EQ(library.GetTime(&time), 0u);

    device.Stop();
    device.Start(card::CardSettings{card::kBusIsa, 0x310, 7});
    // The old handle is dead for good: the get fails with 5 and drops it.
    Scribble(&time);
    EXPECT_EQ(library.GetTime(&time), 5u);
    EXPECT_TRUE(AllZero(time));
    EXPECT_EQ(device.Closes(), 1);
    const CardTime t{2026, 12, 7, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(library.SetTime(&t), 6u);

    char signature[64];
    ASSERT_GT(library.GetHwSignature(signature, sizeof signature), 0);
    EXPECT_STREQ(signature, "QXR card simulator, ISA port 0x310, IRQ 7");
    EXPECT_EQ(library.SetTime(&t), 0u);
    EXPECT_EQ(device.Opens(), 2);
}

TEST_F(CardLibraryOnSimCard, InjectedFaultsAndEmptyReplies) {
    device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
    CardLibrary library(device);
    device.Model().ReturnNoData(true);
    CardPosition position;
    Scribble(&position);
    EXPECT_EQ(library.GetPosition(&position), 0u);
    EXPECT_TRUE(AllZero(position));
    EXPECT_TRUE(library.HasHandle());

    device.Model().ReturnNoData(false);
    device.Model().FailRequests(ERROR_NOT_SUPPORTED);
    uint32_t checksum = 1;
    EXPECT_EQ(library.GetFwChecksum(&checksum), 50u);
    EXPECT_EQ(checksum, 0u);
    EXPECT_FALSE(library.HasHandle());

    device.Model().FailRequests(0);
    EXPECT_EQ(library.GetFwChecksum(&checksum), 0u);
    EXPECT_EQ(checksum, card::kFirmwareChecksum);
}

TEST_F(CardLibraryOnSimCard, FullRecordsThroughClient) {
    device.Start(card::CardSettings{card::kBusIsa, 0x300, 5});
    CardLibrary library(device);
    LibraryCardClient client(library);
    device.Model().SetReference(2);
    device.Model().SetGpsFitted(false);
    CardStatus status{};
    ASSERT_EQ(client.GetHwStatus(&status), 0u);
    EXPECT_EQ(status.reference, TimeReference::OnBoardClock);
    EXPECT_EQ(status.gpsPresent, 0);
    EXPECT_EQ(status.statusByte3, -3);

    CardPosition position{};
    ASSERT_EQ(library.GetPosition(&position), 0u);
    // Packed doubles: read by value (a reference to them may be misaligned).
    EXPECT_GT(double{position.coord1Micro}, 2147.483648);  // raw value above 2^31
    EXPECT_LT(double{position.milliValue}, 0.0);
    CardSignalQuality quality{};
    ASSERT_EQ(library.GetSignalQuality(&quality), 0u);
    EXPECT_EQ(quality.header1, 12);
    EXPECT_EQ(quality.channelB[5], 200);
    CardVersion version{};
    ASSERT_EQ(library.GetDriverVersion(&version), 0u);
    EXPECT_EQ(version.part1, card::kDriverVersion[0]);
    EXPECT_EQ(version.part4, card::kDriverVersion[3]);

    // Setting the card clock through the client: it reads back the second just set.
    const CardTime t{2027, 3, 4, 5, 6, 7, 0, 0, 0, 0};
    ASSERT_EQ(client.SetTime(&t), 0u);
    CardTime now{};
    ASSERT_EQ(client.GetTime(&now), 0u);
    EXPECT_EQ(now.year, 2027);
    EXPECT_EQ(now.month, 3);
    EXPECT_EQ(now.day, 4);
    EXPECT_EQ(now.hour, 5);
    EXPECT_EQ(now.minute, 6);
    EXPECT_EQ(now.second, 7);
}

}  // namespace
}  // namespace qxr::card_access
