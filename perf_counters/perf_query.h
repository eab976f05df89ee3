// Which objects perflib asks a counter DLL for: the value name it passes to Collect. Null or
// empty, or "Global": every ordinary object. "Foreign ..." (another computer's data through
// this DLL) and "Costly" (objects slow to collect): none of ours. Otherwise a list of object
// title indexes separated by spaces: ours when the list names its index. Anything else in a
// list (a word that is not a number, a number too large) names nothing.
#pragma once

#include <cstdint>

namespace qxr::perf {

// Longest query looked at, in UTF-16 units; the rest of a longer one is not read.
inline constexpr int kMaxQueryUnits = 4096;

// `query`: a NUL-terminated UTF-16 string (any alignment), or null.
bool QueryWantsObject(const void* query, uint32_t objectIndex);

}  // namespace qxr::perf
