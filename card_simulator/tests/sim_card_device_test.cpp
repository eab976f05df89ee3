#include "card_simulator/sim_card_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "card_access/card_library.h"
#include "card_access/qxr_requests.h"
#include "platform/calendar.h"

namespace qxr::sim {
namespace {

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;

class SimCardDeviceTest : public ::testing::Test {
  protected:
    HANDLE Open(const char* name = QXR_DEVICE_NAME) {
        return device.CreateFileA(name, kAccess, 0, OPEN_EXISTING, kFlags);
    }
    BOOL Status(HANDLE h, DWORD* returned) {
        return device.DeviceIoControl(h, IOCTL_QXR_GET_HW_STATUS, nullptr, 0, reply, 4, returned);
    }

    SimClock clock;
    SimCardDevice device{clock};
    uint8_t reply[32] = {};
};

TEST_F(SimCardDeviceTest, OpensOnlyTheCardWhileLoaded) {
    HANDLE h = Open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE second = Open();  // several clients at once
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(h, second);
    EXPECT_EQ(Open("\\\\.\\QXR1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_EQ(Open(nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.Opens(), 2);
    EXPECT_EQ(device.OpenHandles(), 2);

    DWORD returned = 0;
    EXPECT_TRUE(Status(h, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_TRUE(device.CloseHandle(h));
    EXPECT_FALSE(device.CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(Status(h, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(Status(INVALID_HANDLE_VALUE, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(device.Closes(), 1);
    EXPECT_EQ(device.Requests(), 3);
}

TEST_F(SimCardDeviceTest, StopAndRestartLikeTheDriverService) {
    HANDLE old = Open();
    device.Model().SetOffset(12345);
    device.Stop();
    EXPECT_FALSE(device.Loaded());
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
    DWORD returned = 7;
    EXPECT_FALSE(Status(old, &returned));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(returned, 0u);

    device.Start(card::CardSettings{card::kBusPci, 0, 11});
    EXPECT_FALSE(Status(old, &returned));  // still dead after the restart
    EXPECT_EQ(GetLastError(), 5u);
    HANDLE fresh = Open();
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Status(fresh, &returned));
    EXPECT_EQ(device.Model().Offset(), 0);  // the card came back at its defaults
    EXPECT_EQ(device.Model().Settings().irq, 11u);
    EXPECT_TRUE(device.CloseHandle(old));  // closing a dead handle is still fine
}

TEST_F(SimCardDeviceTest, ModelErrorsBecomeLastError) {
    HANDLE h = Open();
    DWORD returned = 0;
    EXPECT_FALSE(device.DeviceIoControl(h, 0xBE902024u, nullptr, 0, reply, 4, &returned));
    EXPECT_EQ(GetLastError(), 1u);
    EXPECT_FALSE(device.DeviceIoControl(h, IOCTL_QXR_GET_TIME, nullptr, 0, reply, 23, &returned));
    EXPECT_EQ(GetLastError(), 122u);
    EXPECT_EQ(device.LastRequestCode(), IOCTL_QXR_GET_TIME);
}

TEST_F(SimCardDeviceTest, CardTimeOnSimulatedClockThroughLibrary) {
    device.Model().SetOffset(-7500000);  // card 0.75 s behind true time
    card_access::CardLibrary library(device);
    LARGE_INTEGER frequency{};
    clock.QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < 25; ++i) {
        clock.Advance(1234567);
        CardTime t{};
        ASSERT_EQ(library.GetTime(&t), 0u);
        calendar::CalendarFields f{};
        f.year = t.year, f.month = t.month, f.day = t.day, f.hour = t.hour, f.minute = t.minute,
        f.second = t.second;
        int64_t whole = 0;
        ASSERT_TRUE(calendar::CalendarToFileTime(f, &whole));
        const int64_t latch = (static_cast<int64_t>(t.latchCounterHigh) << 32) | t.latchCounterLow;
        LARGE_INTEGER now{};
        clock.QueryPerformanceCounter(&now);
        ASSERT_LE(latch, now.QuadPart);
        const int64_t ageTicks = (now.QuadPart - latch) * 10000000 / frequency.QuadPart;
        const int64_t card = clock.TrueTime() - 7500000;
        // Up to a millisecond behind: the card counts whole milliseconds.
        const int64_t behind = card - (whole + ageTicks);
        EXPECT_GE(behind, -(10000000 / frequency.QuadPart + 1));
        EXPECT_LT(behind, 10000 + 10000000 / frequency.QuadPart + 1);
        EXPECT_EQ(t.millisecond, static_cast<int>((card / 10000) % 1000));
    }
}

}  // namespace
}  // namespace qxr::sim
