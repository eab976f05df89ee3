#include "card_simulator/driver/nt_status.h"

#include <gtest/gtest.h>

namespace qxr::simdriver {
namespace {

TEST(NtStatus, SuccessStaysSuccess) {
    EXPECT_EQ(NtStatusFromWin32Error(0), 0u);
}

TEST(NtStatus, CardErrorsUseThePlatformsOwnStatus) {
    EXPECT_EQ(NtStatusFromWin32Error(1), 0xC0000010u);    // invalid device request
    EXPECT_EQ(NtStatusFromWin32Error(21), 0xC00000A3u);   // device not ready
    EXPECT_EQ(NtStatusFromWin32Error(31), 0xC0000001u);   // unsuccessful
    EXPECT_EQ(NtStatusFromWin32Error(87), 0xC000000Du);   // invalid parameter
    EXPECT_EQ(NtStatusFromWin32Error(122), 0xC0000023u);  // buffer too small
}

TEST(NtStatus, OtherErrorsTravelInAWin32FacilityStatus) {
    EXPECT_EQ(NtStatusFromWin32Error(1460), 0xC00705B4u);
    EXPECT_EQ(NtStatusFromWin32Error(0xFFFF), 0xC007FFFFu);
}

TEST(NtStatus, NumbersBeyondSixteenBitsBecomeAGeneralFailure) {
    EXPECT_EQ(NtStatusFromWin32Error(0x10000), 0xC0000001u);
}

TEST(NtStatus, EveryResultIsAnError) {
    for (uint32_t e = 1; e < 20000; e += 7) {
        EXPECT_EQ(NtStatusFromWin32Error(e) & 0xC0000000u, 0xC0000000u) << e;
    }
}

}  // namespace
}  // namespace qxr::simdriver
