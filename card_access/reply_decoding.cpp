#include "card_access/reply_decoding.h"

namespace qxr::card_access {

namespace {

constexpr uint32_t kErrorInvalidData = 13;

int32_t Word(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8));
}

uint32_t Dword(const uint8_t* p) {
    return static_cast<uint32_t>(Word(p)) | (static_cast<uint32_t>(Word(p + 2)) << 16);
}

int32_t SignedDword(const uint8_t* p) {
    return static_cast<int32_t>(Dword(p));
}

void PutWord(uint8_t* p, int32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// Bits 0..2 of the status word: only 1 (GPS) and 2 (on-board clock) name a reference.
TimeReference ReferenceFrom(uint32_t v) {
    switch (v) {
        case 1:
            return TimeReference::Gps;
        case 2:
            return TimeReference::OnBoardClock;
        default:
            return TimeReference::None;
    }
}

int32_t Code11From(uint32_t v) {
    return (v == 1 || v == 2) ? static_cast<int32_t>(v) : 0;
}

int32_t Code13From(uint32_t v) {
    switch (v) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 6:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

void DecodeVersion(const uint8_t (&reply)[QXR_VERSION_REPLY_SIZE], CardVersion* version) {
    version->part1 = Word(reply);
    version->part2 = Word(reply + 2);
    version->part3 = Word(reply + 4);
    version->part4 = Word(reply + 6);
}

void DecodeStatus(const uint8_t (&reply)[QXR_STATUS_REPLY_SIZE], CardStatus* status) {
    const uint32_t w = static_cast<uint32_t>(Word(reply));
    status->gpsPresent = static_cast<uint8_t>((w >> 3) & 1u);
    status->statusFlag4 = static_cast<uint8_t>((w >> 4) & 1u);
    status->reference = ReferenceFrom(w & 0x7u);
    status->statusCode11 = Code11From((w >> 11) & 0x3u);
    status->statusCode13 = Code13From((w >> 13) & 0x7u);
    status->statusByte2 = reply[2];
    status->statusByte3 = static_cast<int8_t>(reply[3]);
    status->tickToggle = static_cast<int32_t>((w >> 10) & 1u);
}

void DecodeTime(const uint8_t (&reply)[QXR_TIME_REPLY_SIZE], CardTime* time) {
    time->year = Word(reply);
    time->month = Word(reply + 2);
    time->day = Word(reply + 4);
    time->hour = Word(reply + 6);
    time->minute = Word(reply + 8);
    time->second = Word(reply + 10);
    time->millisecond = Word(reply + 12);
    time->auxWord = Word(reply + 14);
    time->latchCounterLow = Dword(reply + 16);
    time->latchCounterHigh = Dword(reply + 20);
}

void DecodeSignalQuality(const uint8_t (&reply)[QXR_SIGNAL_QUALITY_REPLY_SIZE],
                         CardSignalQuality* quality) {
    quality->header1 = Word(reply);
    quality->header2 = Word(reply + 2);
    for (int i = 0; i < 12; ++i) {
        quality->channelA[i] = reply[4 + 2 * i];
        quality->channelB[i] = reply[5 + 2 * i];
    }
}

void DecodePosition(const uint8_t (&reply)[QXR_POSITION_REPLY_SIZE], CardPosition* position) {
    position->coord1Word = Word(reply);
    position->coord1Tag = Word(reply + 2);
    // Unsigned: values of 2^31 and above stay positive.
    position->coord1Micro = static_cast<double>(Dword(reply + 4)) * 0.000001;
    position->coord2Word = Word(reply + 8);
    position->coord2Tag = Word(reply + 10);
    position->coord2Micro = static_cast<double>(Dword(reply + 12)) * 0.000001;
    position->milliValue = static_cast<double>(SignedDword(reply + 16)) * 0.001;
    position->deciValue1 = static_cast<double>(SignedDword(reply + 20)) * 0.1;
    position->deciValue2 = static_cast<double>(SignedDword(reply + 24)) * 0.1;
}

uint32_t DecodeChecksum(const uint8_t (&reply)[QXR_CHECKSUM_REPLY_SIZE]) {
    return Dword(reply);
}

uint32_t CheckSetTime(const CardTime& time) {
    if (time.second < 0 || time.second > 60) return kErrorInvalidData;
    if (time.minute < 0 || time.minute > 59) return kErrorInvalidData;
    if (time.hour < 0 || time.hour > 23) return kErrorInvalidData;
    if (time.day < 1 || time.day > 31) return kErrorInvalidData;
    if (time.month < 1 || time.month > 12) return kErrorInvalidData;
    if (time.year < 2000 || time.year > 2099) return kErrorInvalidData;
    return 0;
}

void EncodeSetTime(const CardTime& time, uint8_t (&request)[QXR_SET_TIME_REQUEST_SIZE]) {
    PutWord(request, time.year);
    PutWord(request + 2, time.month);
    PutWord(request + 4, time.day);
    PutWord(request + 6, time.hour);
    PutWord(request + 8, time.minute);
    PutWord(request + 10, time.second);
}

}  // namespace qxr::card_access
