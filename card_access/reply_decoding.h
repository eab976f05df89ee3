// Turns the driver's raw replies into the library's records, and a CardTime into the
// SetTime request. Pure functions on byte buffers; each reply buffer is at least the size
// the request table gives for it (bytes the driver did not fill are read as they are).
#pragma once

#include <stdint.h>

#include "card_access/qxr_requests.h"
#include "card_access/qxrtime.h"

namespace qxr::card_access {

void DecodeVersion(const uint8_t (&reply)[QXR_VERSION_REPLY_SIZE], CardVersion* version);
void DecodeStatus(const uint8_t (&reply)[QXR_STATUS_REPLY_SIZE], CardStatus* status);
void DecodeTime(const uint8_t (&reply)[QXR_TIME_REPLY_SIZE], CardTime* time);
void DecodeSignalQuality(const uint8_t (&reply)[QXR_SIGNAL_QUALITY_REPLY_SIZE],
                         CardSignalQuality* quality);
void DecodePosition(const uint8_t (&reply)[QXR_POSITION_REPLY_SIZE], CardPosition* position);
uint32_t DecodeChecksum(const uint8_t (&reply)[QXR_CHECKSUM_REPLY_SIZE]);

// ERROR_INVALID_DATA (13) for the first field out of range, checked second, minute, hour,
// day, month, year; 0 when the time may be sent. The day is not checked against the month.
uint32_t CheckSetTime(const CardTime& time);
// The six low 16-bit words year, month, day, hour, minute, second.
void EncodeSetTime(const CardTime& time, uint8_t (&request)[QXR_SET_TIME_REQUEST_SIZE]);

}  // namespace qxr::card_access
