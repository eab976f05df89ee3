#include "card_access/reply_decoding.h"

#include <gtest/gtest.h>

namespace qxr::card_access {
namespace {

CardStatus StatusOf(uint16_t word, uint8_t byte2 = 0, uint8_t byte3 = 0) {
    const uint8_t reply[QXR_STATUS_REPLY_SIZE] = {static_cast<uint8_t>(word & 0xFF),
                                                  static_cast<uint8_t>(word >> 8), byte2, byte3};
    CardStatus status{};
    DecodeStatus(reply, &status);
    return status;
}

TEST(StatusDecoding, ReferenceOnlyFromOneAndTwo) {
    const TimeReference expected[8] = {
        TimeReference::None, TimeReference::Gps,  TimeReference::OnBoardClock, TimeReference::None,
        TimeReference::None, TimeReference::None, TimeReference::None,         TimeReference::None};
    for (uint16_t v = 0; v < 8; ++v) {
        EXPECT_EQ(StatusOf(v).reference, expected[v]) << "bits 0..2 = " << v;
        // The other bits do not disturb it.
        EXPECT_EQ(StatusOf(static_cast<uint16_t>(0xFFF8 | v)).reference, expected[v]);
    }
}

TEST(StatusDecoding, CodesFromBits11And13) {
    const int32_t code11[4] = {0, 1, 2, 0};
    for (uint16_t v = 0; v < 4; ++v) EXPECT_EQ(StatusOf(v << 11).statusCode11, code11[v]);
    const int32_t code13[8] = {0, 1, 2, 0, 0, 0, 3, 0};
    for (uint16_t v = 0; v < 8; ++v) {
        EXPECT_EQ(StatusOf(static_cast<uint16_t>(v << 13)).statusCode13, code13[v]) << v;
        EXPECT_EQ(StatusOf(static_cast<uint16_t>(v << 13)).statusCode11, 0);
    }
}

TEST(StatusDecoding, SingleBitsAndBytes) {
    EXPECT_EQ(StatusOf(0x0008).gpsPresent, 1);
    EXPECT_EQ(StatusOf(0xFFF7).gpsPresent, 0);
    EXPECT_EQ(StatusOf(0x0010).statusFlag4, 1);
    EXPECT_EQ(StatusOf(0xFFEF).statusFlag4, 0);
    EXPECT_EQ(StatusOf(0x0400).tickToggle, 1);
    EXPECT_EQ(StatusOf(0xFBFF).tickToggle, 0);
    // Bits 5..9 mean nothing to the decoder.
    const CardStatus quiet = StatusOf(0x03E0);
    EXPECT_EQ(quiet.gpsPresent + quiet.statusFlag4 + quiet.tickToggle + quiet.statusCode11 +
                  quiet.statusCode13,
              0);
    EXPECT_EQ(quiet.reference, TimeReference::None);

    EXPECT_EQ(StatusOf(0, 0xFF, 0xFF).statusByte2, 255);
    EXPECT_EQ(StatusOf(0, 0xFF, 0xFF).statusByte3, -1);
    EXPECT_EQ(StatusOf(0, 0x80, 0x80).statusByte2, 128);
    EXPECT_EQ(StatusOf(0, 0x80, 0x80).statusByte3, -128);
    EXPECT_EQ(StatusOf(0, 0x7F, 0x7F).statusByte3, 127);
}

TEST(TimeDecoding, WordsWidenedUnsignedAndCounterPassedThrough) {
    uint8_t reply[QXR_TIME_REPLY_SIZE] = {0xEA, 0x07, 12,   0,    31,   0,    23,   0,
                                          59,   0,    60,   0,    0xE7, 0x03, 0xFF, 0xFF,
                                          0x01, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
    CardTime time{};
    DecodeTime(reply, &time);
    EXPECT_EQ(time.year, 2026);
    EXPECT_EQ(time.month, 12);
    EXPECT_EQ(time.day, 31);
    EXPECT_EQ(time.hour, 23);
    EXPECT_EQ(time.minute, 59);
    EXPECT_EQ(time.second, 60);
    EXPECT_EQ(time.millisecond, 999);
    EXPECT_EQ(time.auxWord, 65535);
    EXPECT_EQ(time.latchCounterLow, 0x80000001u);
    EXPECT_EQ(time.latchCounterHigh, 0xFFFFFFFFu);

    for (int i = 16; i < 24; ++i) reply[i] = 0;
    DecodeTime(reply, &time);
    EXPECT_EQ(time.latchCounterLow, 0u);
    EXPECT_EQ(time.latchCounterHigh, 0u);
}

TEST(PositionDecoding, UnsignedStayPositiveSignedAreSignExtended) {
    uint8_t reply[QXR_POSITION_REPLY_SIZE] = {0xFF, 0xFF, 'N',  0,      // word, tag
                                              0x00, 0x00, 0x00, 0x80,   // 2^31
                                              0x10, 0x00, 'W',  0,      // word, tag
                                              0xFF, 0xFF, 0xFF, 0xFF,   // 2^32 - 1
                                              0xFF, 0xFF, 0xFF, 0xFF,   // -1
                                              0x00, 0x00, 0x00, 0x80,   // -2^31
                                              0xFF, 0xFF, 0xFF, 0x7F};  // 2^31 - 1
    CardPosition p{};
    DecodePosition(reply, &p);
    EXPECT_EQ(p.coord1Word, 65535);
    EXPECT_EQ(p.coord1Tag, 'N');
    EXPECT_DOUBLE_EQ(double{p.coord1Micro}, 2147.483648);
    EXPECT_EQ(p.coord2Word, 16);
    EXPECT_EQ(p.coord2Tag, 'W');
    EXPECT_DOUBLE_EQ(double{p.coord2Micro}, 4294.967295);
    EXPECT_DOUBLE_EQ(double{p.milliValue}, -0.001);
    EXPECT_DOUBLE_EQ(double{p.deciValue1}, -214748364.8);
    EXPECT_DOUBLE_EQ(double{p.deciValue2}, 214748364.7);
}

TEST(SignalQualityDecoding, ChannelsInterleavedAndBytesUnsigned) {
    uint8_t reply[QXR_SIGNAL_QUALITY_REPLY_SIZE] = {0x0C, 0x00, 0x34, 0x12};
    for (int i = 0; i < 12; ++i) {
        reply[4 + 2 * i] = static_cast<uint8_t>(i + 1);
        reply[5 + 2 * i] = static_cast<uint8_t>(0xF0 + i);
    }
    CardSignalQuality q{};
    DecodeSignalQuality(reply, &q);
    EXPECT_EQ(q.header1, 12);
    EXPECT_EQ(q.header2, 0x1234);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(q.channelA[i], i + 1);
        EXPECT_EQ(q.channelB[i], 0xF0 + i);  // 240..251, not negative
    }
}

TEST(OtherDecoding, VersionInOrderAndChecksumUnsigned) {
    const uint8_t version[QXR_VERSION_REPLY_SIZE] = {1, 0, 2, 0, 0xFF, 0xFF, 4, 1};
    CardVersion v{};
    DecodeVersion(version, &v);
    EXPECT_EQ(v.part1, 1);
    EXPECT_EQ(v.part2, 2);
    EXPECT_EQ(v.part3, 65535);
    EXPECT_EQ(v.part4, 0x0104);
    const uint8_t checksum[QXR_CHECKSUM_REPLY_SIZE] = {0x78, 0x56, 0x34, 0xF2};
    EXPECT_EQ(DecodeChecksum(checksum), 0xF2345678u);
}

CardTime Valid() {
    return CardTime{2026, 12, 7, 10, 30, 15, 0, 0, 0, 0};
}

TEST(SetTimeCheck, BoundsInclusive) {
    EXPECT_EQ(CheckSetTime(Valid()), 0u);
    CardTime t = Valid();
    t.year = 2000, t.second = 60, t.month = 2, t.day = 31;  // not checked against the month
    EXPECT_EQ(CheckSetTime(t), 0u);
    t = Valid(), t.year = 2099, t.month = 12, t.day = 1, t.hour = 23, t.minute = 59, t.second = 0;
    EXPECT_EQ(CheckSetTime(t), 0u);

    const auto rejected = [](void (*change)(CardTime&)) {
        CardTime bad = Valid();
        change(bad);
        return CheckSetTime(bad);
    };
    EXPECT_EQ(rejected([](CardTime& x) { x.year = 2100; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.year = 1999; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.month = 0; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.month = 13; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.day = 32; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.day = 0; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.hour = 24; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.minute = -1; }), 13u);
    EXPECT_EQ(rejected([](CardTime& x) { x.second = 61; }), 13u);
    // Millisecond and the rest are not looked at.
    EXPECT_EQ(rejected([](CardTime& x) { x.millisecond = -5, x.auxWord = 99999; }), 0u);
}

TEST(SetTimeEncoding, SixLowWords) {
    CardTime t{0x12007D0, 0x1000C, 31, 23, 59, 60, 999, 7, 1, 2};
    uint8_t request[QXR_SET_TIME_REQUEST_SIZE] = {};
    EncodeSetTime(t, request);
    const uint8_t expected[QXR_SET_TIME_REQUEST_SIZE] = {0xD0, 0x07, 0x0C, 0, 31, 0,
                                                         23,   0,    59,   0, 60, 0};
    for (size_t i = 0; i < sizeof request; ++i) EXPECT_EQ(request[i], expected[i]) << i;
}

}  // namespace
}  // namespace qxr::card_access
