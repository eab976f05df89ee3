// qxrtime.dll: access to the QXR time-reference card through its driver.
//
// Every record is owned by the caller and filled anew by each call; records use 4-byte
// packing. Every export but QxrGetHwSignature returns 0 on success, 13 (ERROR_INVALID_DATA)
// for a null pointer or an out-of-range QxrSetTime field, and otherwise the Win32 error code
// of the failed open or request, with the record zero-filled.
//
// Calling convention: __stdcall (WINAPI) on 32-bit Windows, exported by plain undecorated
// name ("QxrGetTime", not "_QxrGetTime@4"); the platform default elsewhere.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QXRAPI __stdcall
#if defined(QXRTIME_BUILDING_DLL)
#define QXRTIME_EXPORT __declspec(dllexport)
#else
#define QXRTIME_EXPORT __declspec(dllimport)
#endif
#else
#define QXRAPI
#define QXRTIME_EXPORT
#endif

#pragma pack(push, 4)

enum class TimeReference : int32_t {
    None = 0,          // no valid time reference
    Gps = 1,           // the card's clock follows GPS time
    OnBoardClock = 2,  // GPS time not available; the card runs on its internal clock
};

struct CardTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t millisecond;
    int32_t auxWord;
    // Performance counter at which the driver latched this time; both 0 = none.
    uint32_t latchCounterLow;
    uint32_t latchCounterHigh;
};

struct CardStatus {
    uint8_t gpsPresent;
    uint8_t statusFlag4;
    TimeReference reference;
    int32_t statusCode11;
    int32_t statusCode13;
    int32_t statusByte2;
    int32_t statusByte3;
    int32_t tickToggle;  // flips at every card second
};

struct CardPosition {
    int32_t coord1Word;
    double coord1Micro;
    int32_t coord1Tag;
    int32_t coord2Word;
    double coord2Micro;
    int32_t coord2Tag;
    double milliValue;
    double deciValue1;
    double deciValue2;
};

struct CardSignalQuality {
    int32_t header1;
    int32_t header2;
    int32_t channelA[12];
    int32_t channelB[12];
};

struct CardVersion {
    int32_t part1;
    int32_t part2;
    int32_t part3;
    int32_t part4;
};

#pragma pack(pop)

// The layouts every client program is compiled against: each field at its byte offset.
#define QXR_FIELD_AT(record, field, offset) \
    static_assert(offsetof(record, field) == (offset), #record "." #field " offset")
QXR_FIELD_AT(CardTime, year, 0);
QXR_FIELD_AT(CardTime, month, 4);
QXR_FIELD_AT(CardTime, day, 8);
QXR_FIELD_AT(CardTime, hour, 12);
QXR_FIELD_AT(CardTime, minute, 16);
QXR_FIELD_AT(CardTime, second, 20);
QXR_FIELD_AT(CardTime, millisecond, 24);
QXR_FIELD_AT(CardTime, auxWord, 28);
QXR_FIELD_AT(CardTime, latchCounterLow, 32);
QXR_FIELD_AT(CardTime, latchCounterHigh, 36);
static_assert(sizeof(CardTime) == 40, "CardTime layout");
QXR_FIELD_AT(CardStatus, gpsPresent, 0);
QXR_FIELD_AT(CardStatus, statusFlag4, 1);
QXR_FIELD_AT(CardStatus, reference, 4);
QXR_FIELD_AT(CardStatus, statusCode11, 8);
QXR_FIELD_AT(CardStatus, statusCode13, 12);
QXR_FIELD_AT(CardStatus, statusByte2, 16);
QXR_FIELD_AT(CardStatus, statusByte3, 20);
QXR_FIELD_AT(CardStatus, tickToggle, 24);
static_assert(sizeof(CardStatus) == 28, "CardStatus layout");
QXR_FIELD_AT(CardPosition, coord1Word, 0);
QXR_FIELD_AT(CardPosition, coord1Micro, 4);
QXR_FIELD_AT(CardPosition, coord1Tag, 12);
QXR_FIELD_AT(CardPosition, coord2Word, 16);
QXR_FIELD_AT(CardPosition, coord2Micro, 20);
QXR_FIELD_AT(CardPosition, coord2Tag, 28);
QXR_FIELD_AT(CardPosition, milliValue, 32);
QXR_FIELD_AT(CardPosition, deciValue1, 40);
QXR_FIELD_AT(CardPosition, deciValue2, 48);
static_assert(sizeof(CardPosition) == 56, "CardPosition layout");
QXR_FIELD_AT(CardSignalQuality, header1, 0);
QXR_FIELD_AT(CardSignalQuality, header2, 4);
QXR_FIELD_AT(CardSignalQuality, channelA, 8);
QXR_FIELD_AT(CardSignalQuality, channelB, 56);
static_assert(sizeof(CardSignalQuality) == 104, "CardSignalQuality layout");
QXR_FIELD_AT(CardVersion, part1, 0);
QXR_FIELD_AT(CardVersion, part2, 4);
QXR_FIELD_AT(CardVersion, part3, 8);
QXR_FIELD_AT(CardVersion, part4, 12);
static_assert(sizeof(CardVersion) == 16, "CardVersion layout");
#undef QXR_FIELD_AT

extern "C" {
QXRTIME_EXPORT uint32_t QXRAPI QxrGetDriverVersion(CardVersion* version);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetFwVersion(CardVersion* version);
// Returns the number of bytes received (0 on failure); the text is zero-terminated when it
// is shorter than `length`. The buffer must not be null.
QXRTIME_EXPORT int32_t QXRAPI QxrGetHwSignature(char* buffer, int32_t length);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetHwStatus(CardStatus* status);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetTime(CardTime* time);
// Uses year..second only (UTC); sets the card clock to that second.
QXRTIME_EXPORT uint32_t QXRAPI QxrSetTime(const CardTime* time);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetSignalQuality(CardSignalQuality* quality);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetPosition(CardPosition* position);
QXRTIME_EXPORT uint32_t QXRAPI QxrGetFwChecksum(uint32_t* checksum);
}
