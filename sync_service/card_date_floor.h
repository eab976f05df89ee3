// The earliest card time the service believes. GPS receivers count weeks modulo 1024; one whose
// firmware gets the era wrong shows a date 1024 weeks (19.6 years) in the past, which passes
// the engine's own date check (2002..2099). No card can truly show a date before this version
// was written, so such a reading is a fault of the card: the clock is not corrected from it
// and it is not served.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card_access/qxrtime.h"

namespace qxr::sync {

// 2026-01-01 00:00:00 UTC as a FILETIME count. Written by hand for this version rather than
// taken from the compiler's __DATE__, so that a build is the same whenever it is made; a later
// version may move it forward, never past its own release date.
inline constexpr int64_t kCardDateFloor = 134116992000000000LL;

// True when a card time (FILETIME count) is not before the floor.
inline bool IsPlausibleCardTime(int64_t cardTime) {
    return cardTime >= kCardDateFloor;
}

// The card's date as "YYYY-MM-DD", for the event that reports an implausible one; cut to fit
// `size`, always terminated when size > 0.
void FormatCardDate(const CardTime& time, char* out, std::size_t size);

}  // namespace qxr::sync
