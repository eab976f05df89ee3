// The operator's entry of a new card date and time, read in the display format
// "MM/DD/YYYY  hh:mm:ss" but more loosely: separators '/', '/', blank, ':', ':' in that order,
// any number of digits per part, leading blanks and a sign allowed. No range test is made;
// the card library rejects what it cannot set.
#pragma once

#include "card_access/qxrtime.h"

namespace qxr::monitor {

// Fills year..second of *request (nothing else); false when the separators are not all found
// in order with a non-empty month. A part too large for 32 bits saturates at the 32-bit limit
// of its sign, which no field accepts.
bool ParseCardTimeEntry(const char* text, CardTime* request);

// The value of the leading decimal digits after optional blanks and a sign, 0 when there are
// none, saturated at the 32-bit limits. Reads no further than `end`.
int32_t ParseEntryNumber(const char* begin, const char* end);

}  // namespace qxr::monitor
