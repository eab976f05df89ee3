#include "card_simulator/card_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "card_access/qxr_requests.h"
#include "platform/calendar.h"

namespace qxr::card {
namespace {

// 2026-12-07 10:30:15.250 UTC; counter 10 MHz.
constexpr int64_t kSecond = calendar::kTicksPerSecond;
constexpr int64_t kBase = 134410752000000000LL + (10 * 3600 + 30 * 60 + 15) * kSecond;

ClockSample At(int64_t utc, int64_t frequency = 10000000) {
    // The counter runs on true time from an arbitrary origin.
    return ClockSample{utc, (utc - (kBase - 1000 * kSecond)) * frequency / kSecond, frequency};
}

uint32_t Word(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
uint32_t Dword(const uint8_t* p) {
    return Word(p) | (Word(p + 2) << 16);
}

class CardModelTest : public ::testing::Test {
  protected:
    void SetUp() override { model.Start(CardSettings{kBusIsa, 0x300, 5}); }

    uint32_t Request(int64_t utc, uint32_t code, uint32_t outSize = 64) {
        std::memset(out, 0xEE, sizeof out);
        returned = 99;
        return model.HandleRequest(At(utc), code, nullptr, 0, out, outSize, &returned);
    }
    uint32_t SetTime(int64_t utc, uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi,
                     uint16_t s) {
        const uint16_t words[6] = {y, mo, d, h, mi, s};
        uint8_t in[12];
        for (int i = 0; i < 6; ++i) {
            in[2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
            in[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
        }
        return model.HandleRequest(At(utc), IOCTL_QXR_SET_TIME, in, sizeof in, nullptr, 0,
                                   &returned);
    }
    uint16_t StatusWord(int64_t utc) {
        EXPECT_EQ(Request(utc, IOCTL_QXR_GET_HW_STATUS), 0u);
        return static_cast<uint16_t>(Word(out));
    }

    CardModel model;
    uint8_t out[64];
    uint32_t returned = 0;
};

TEST_F(CardModelTest, ReplySizesMatchRequestTable) {
    const struct {
        uint32_t code;
        uint32_t size;
    } table[] = {{IOCTL_QXR_GET_DRIVER_VERSION, 8},  {IOCTL_QXR_GET_FW_VERSION, 8},
                 {IOCTL_QXR_GET_HW_STATUS, 4},       {IOCTL_QXR_GET_TIME, 24},
                 {IOCTL_QXR_GET_SIGNAL_QUALITY, 28}, {IOCTL_QXR_GET_POSITION, 28},
                 {IOCTL_QXR_GET_FW_CHECKSUM, 4}};
    for (const auto& row : table) {
        EXPECT_EQ(Request(kBase, row.code, row.size), 0u) << std::hex << row.code;
        EXPECT_EQ(returned, row.size);
        EXPECT_EQ(out[row.size], 0xEE) << "wrote past the reply";
        EXPECT_EQ(Request(kBase, row.code, row.size - 1), kErrorInsufficientBuffer);
        EXPECT_EQ(returned, 0u);
    }
    EXPECT_EQ(Request(kBase, QXR_CTL_CODE(0x809u)), kErrorInvalidFunction);
    EXPECT_EQ(Request(kBase, 0x00222000u), kErrorInvalidFunction);
}

TEST_F(CardModelTest, FixedIdentityAndPositionAboveTwoToThe31) {
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_DRIVER_VERSION), 0u);
    EXPECT_EQ(Word(out), kDriverVersion[0]);
    EXPECT_EQ(Word(out + 6), kDriverVersion[3]);
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_FW_CHECKSUM), 0u);
    EXPECT_EQ(Dword(out), kFirmwareChecksum);
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_POSITION), 0u);
    EXPECT_GE(Dword(out + 4), 0x80000000u);
    EXPECT_GE(Dword(out + 12), 0x80000000u);
    EXPECT_LT(static_cast<int32_t>(Dword(out + 16)), 0);
}

TEST_F(CardModelTest, SignatureFollowsSettingsAndIsCutToBuffer) {
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_HW_SIGNATURE), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), returned),
              "QXR card simulator, ISA port 0x300, IRQ 5");
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_HW_SIGNATURE, 10), 0u);
    EXPECT_EQ(returned, 10u);
    EXPECT_EQ(out[10], 0xEE);

    model.Start(CardSettings{kBusPci, 0, 11});
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_HW_SIGNATURE), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), returned),
              "QXR card simulator, PCI, IRQ 11");
    model.Start(CardSettings{kBusIsa, 0x370, 15});
    EXPECT_STREQ(model.Signature(), "QXR card simulator, ISA port 0x370, IRQ 15");
}

TEST_F(CardModelTest, TimeReplyCarriesCardTimeAndSecondStartCounter) {
    model.SetOffset(-3 * kSecond + 1234567);  // card = true - 2.8765433 s
    const int64_t now = kBase + 2500000;      // true 10:30:15.250
    ASSERT_EQ(Request(now, IOCTL_QXR_GET_TIME), 0u);
    // Card: 10:30:12.3734567.
    EXPECT_EQ(Word(out), 2026u);
    EXPECT_EQ(Word(out + 2), 12u);
    EXPECT_EQ(Word(out + 4), 7u);
    EXPECT_EQ(Word(out + 6), 10u);
    EXPECT_EQ(Word(out + 8), 30u);
    EXPECT_EQ(Word(out + 10), 12u);
    EXPECT_EQ(Word(out + 12), 373u);
    EXPECT_EQ(Word(out + 14), kTimeAuxWord);
    const int64_t latch =
        static_cast<int64_t>(Dword(out + 16)) | (static_cast<int64_t>(Dword(out + 20)) << 32);
    // The card second began 0.3734567 s ago; the card knows it to the millisecond.
    EXPECT_EQ(At(now).counter - latch, 3730000);
}

TEST_F(CardModelTest, LatchGivesCardTimeAtAnyCounterFrequency) {
    for (int64_t frequency : {3579545LL, 10000000LL, 1193182LL}) {
        for (int64_t step = 0; step < 40; ++step) {
            const int64_t now = kBase + step * 3333331;
            const ClockSample sample = At(now, frequency);
            ASSERT_EQ(
                model.HandleRequest(sample, IOCTL_QXR_GET_TIME, nullptr, 0, out, 24, &returned),
                0u);
            calendar::CalendarFields f{};
            f.year = static_cast<int>(Word(out));
            f.month = static_cast<int>(Word(out + 2));
            f.day = static_cast<int>(Word(out + 4));
            f.hour = static_cast<int>(Word(out + 6));
            f.minute = static_cast<int>(Word(out + 8));
            f.second = static_cast<int>(Word(out + 10));
            int64_t whole = 0;
            ASSERT_TRUE(calendar::CalendarToFileTime(f, &whole));
            const int64_t latch = static_cast<int64_t>(Dword(out + 16)) |
                                  (static_cast<int64_t>(Dword(out + 20)) << 32);
            const int64_t age = (sample.counter - latch) * kSecond / frequency;
            // Whole second plus age: the card's time, up to a millisecond behind (the card
            // counts whole milliseconds), to within one counter period.
            const int64_t behind = now - (whole + age);
            EXPECT_GE(behind, -(kSecond / frequency + 1)) << frequency;
            EXPECT_LT(behind, 10000 + kSecond / frequency + 1) << frequency;
        }
    }
}

TEST_F(CardModelTest, NoCounterGivesZeroLatch) {
    ASSERT_EQ(model.HandleRequest(ClockSample{kBase + 5000000, 0, 0}, IOCTL_QXR_GET_TIME, nullptr,
                                  0, out, 24, &returned),
              0u);
    EXPECT_EQ(Dword(out + 16), 0u);
    EXPECT_EQ(Dword(out + 20), 0u);
    EXPECT_EQ(Word(out + 12), 500u);
}

TEST_F(CardModelTest, StatusWordAndTickToggle) {
    const uint16_t w = StatusWord(kBase);
    EXPECT_EQ(w & 0x7, 1);  // GPS
    EXPECT_NE(w & 0x8, 0);  // fitted
    EXPECT_EQ(out[2], kStatusByte2);
    EXPECT_EQ(out[3], kStatusByte3);

    // Toggles exactly at the card's second boundaries (offset shifts them).
    model.SetOffset(3000000);  // card seconds start at true .7
    const uint16_t before = StatusWord(kBase + 6999999) & 0x400;
    const uint16_t after = StatusWord(kBase + 7000000) & 0x400;
    EXPECT_NE(before, after);
    EXPECT_EQ(StatusWord(kBase + 16999999) & 0x400, after);
    EXPECT_EQ(StatusWord(kBase + 17000000) & 0x400, before);

    model.FreezeTick(true);
    EXPECT_EQ(StatusWord(kBase + 27000000) & 0x400, before);
    EXPECT_EQ(StatusWord(kBase + 37000000) & 0x400, before);
    model.FreezeTick(false);
    EXPECT_EQ(StatusWord(kBase + 47000000) & 0x400, after);

    model.SetReference(2);
    model.SetGpsFitted(false);
    model.SetExtraStatusBits(0xFFFF);
    const uint16_t changed = StatusWord(kBase);
    EXPECT_EQ(changed & 0x7, 2);
    EXPECT_EQ(changed & 0x8, 0);
    EXPECT_EQ(changed & 0xFBF0, 0xFBF0);
    model.SetReference(7 + 8);  // only bits 0..2 kept
    EXPECT_EQ(StatusWord(kBase) & 0xF, 7);
}

TEST_F(CardModelTest, SetTimeStartsTheLoadedSecondNow) {
    const int64_t now = kBase + 4200000;  // true ...:15.420
    EXPECT_EQ(SetTime(now, 2030, 1, 2, 3, 4, 5), 0u);
    EXPECT_EQ(returned, 0u);
    ASSERT_EQ(Request(now, IOCTL_QXR_GET_TIME), 0u);
    EXPECT_EQ(Word(out), 2030u);
    EXPECT_EQ(Word(out + 10), 5u);
    EXPECT_EQ(Word(out + 12), 0u);  // the second begins at the set
    ASSERT_EQ(Request(now + 6000000, IOCTL_QXR_GET_TIME), 0u);
    EXPECT_EQ(Word(out + 10), 5u);
    EXPECT_EQ(Word(out + 12), 600u);
    ASSERT_EQ(Request(now + 10000000, IOCTL_QXR_GET_TIME), 0u);
    EXPECT_EQ(Word(out + 10), 6u);
    EXPECT_EQ(Word(out + 12), 0u);
    EXPECT_EQ(model.SetTimeCount(), 1u);
}

// Holdover: off GPS the on-board clock wanders at its drift; GPS back puts it on UTC again;
// a set in holdover starts the wander afresh from the loaded time.
TEST_F(CardModelTest, HoldoverDriftsOffGpsAndJumpsBackWithIt) {
    const int64_t hour = 3600 * kSecond;
    model.SetHoldoverDrift(2000);     // 2 ppm fast
    model.ChangeReference(1, kBase);  // GPS: no wander
    EXPECT_EQ(model.CardTimeAt(At(kBase + hour)), kBase + hour);
    model.ChangeReference(2, kBase + hour);
    EXPECT_EQ(StatusWord(kBase + hour) & 0x7, 2);
    EXPECT_EQ(model.CardTimeAt(At(kBase + 2 * hour)), kBase + 2 * hour + 72000);  // 7.2 ms
    model.ChangeReference(0, kBase + 2 * hour);  // no reference: still on its own clock
    EXPECT_EQ(model.HoldoverError(kBase + 3 * hour), 144000);
    ASSERT_EQ(SetTime(kBase + 3 * hour, 2027, 1, 1, 0, 0, 0), 0u);
    const int64_t loaded = model.CardTimeAt(At(kBase + 3 * hour));
    EXPECT_EQ(model.CardTimeAt(At(kBase + 4 * hour)) - loaded, hour + 72000);
    model.ChangeReference(1, kBase + 4 * hour);
    EXPECT_EQ(model.CardTimeAt(At(kBase + 4 * hour)) - loaded, hour);
    // A year at the largest drift stays in range; a larger drift is held at the largest.
    model.SetHoldoverDrift(-5000000000LL);
    EXPECT_EQ(model.HoldoverDrift(), -kMaxHoldoverDriftPpb);
    model.ChangeReference(2, kBase);
    EXPECT_EQ(model.HoldoverError(kBase + 365 * 24 * hour), -365 * 24 * hour / 1000);
}

TEST_F(CardModelTest, SetTimeCarriesOverlongDayAndLeapSecond) {
    ASSERT_EQ(SetTime(kBase, 2027, 2, 31, 23, 59, 60), 0u);
    ASSERT_EQ(Request(kBase, IOCTL_QXR_GET_TIME), 0u);
    // 31 February 2027 is 3 March; second 60 is the next minute.
    EXPECT_EQ(Word(out + 2), 3u);
    EXPECT_EQ(Word(out + 4), 4u);
    EXPECT_EQ(Word(out + 6), 0u);
    EXPECT_EQ(Word(out + 8), 0u);
    EXPECT_EQ(Word(out + 10), 0u);

    const int64_t offset = model.Offset();
    EXPECT_EQ(SetTime(kBase, 2027, 13, 1, 0, 0, 0), kErrorInvalidParameter);
    EXPECT_EQ(SetTime(kBase, 2027, 1, 1, 24, 0, 0), kErrorInvalidParameter);
    EXPECT_EQ(SetTime(kBase, 2027, 1, 1, 0, 0, 61), kErrorInvalidParameter);
    EXPECT_EQ(model.HandleRequest(At(kBase), IOCTL_QXR_SET_TIME, out, 11, nullptr, 0, &returned),
              kErrorInvalidParameter);
    EXPECT_EQ(model.Offset(), offset);
}

TEST_F(CardModelTest, FaultsNoDataStopAndRestartDefaults) {
    model.FailRequests(31);
    EXPECT_EQ(Request(kBase, IOCTL_QXR_GET_TIME), 31u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(SetTime(kBase, 2030, 1, 1, 0, 0, 0), 31u);
    model.FailRequests(0);

    model.ReturnNoData(true);
    EXPECT_EQ(Request(kBase, IOCTL_QXR_GET_TIME), 0u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(out[0], 0xEE);

    model.SetOffset(99);
    model.SetReference(0);
    model.FreezeTick(true);
    model.FailRequests(5);
    model.Stop();
    EXPECT_FALSE(model.IsRunning());
    model.FailRequests(0);
    EXPECT_EQ(Request(kBase, IOCTL_QXR_GET_TIME), kErrorNotReady);

    model.Start(CardSettings{kBusPci, 0, 10});
    EXPECT_EQ(model.Offset(), 0);
    EXPECT_EQ(model.Reference(), 1u);
    EXPECT_TRUE(model.GpsFitted());
    EXPECT_FALSE(model.TickFrozen());
    EXPECT_FALSE(model.ReturningNoData());
    EXPECT_EQ(Request(kBase, IOCTL_QXR_GET_TIME), 0u);
    EXPECT_EQ(returned, 24u);
}

}  // namespace
}  // namespace qxr::card
